// The client's one global state block. Classes of the client reach the
// single instances, the configuration values several of them share, the
// cameras, the entity lists and the player's ship here instead of handing
// them to each other. Pointers are not owning unless the comment names the
// owner.
#pragma once

#include <irrlicht.h>

#include <cstdint>
#include <list>
#include <string>
#include <vector>

struct FSOUND_STREAM;
class Camera;
class Control;
class CrashHandler;
class EventReceiver;
class GameClock;
class HeightMap;
class Hud;
class IniFile;
class LightingShaderCallback;
class Log;
class NetworkConnection;
class Object;
class ParticleSystem;
class Physics;
class ResourceHandler;
class Ship;
class Station;
class Torpedo;
class Trash;
class Weapon;

// The program's states; each state's loop runs while the value is its own.
enum GameState : int32_t {
    GS_GAME_RUN = 0,
    GS_MENU = 1,
    GS_END = 2,
};

struct GameGlobals {
    irr::IrrlichtDevice* device = nullptr;              // main
    irr::video::IVideoDriver* driver = nullptr;         // main; all drawing
    irr::gui::IGUIEnvironment* gui = nullptr;           // main; menu, info text, HUD
    irr::scene::ISceneManager* sceneManager = nullptr;  // main; all scene nodes
    std::string serverAddress;                          // [Server] "IP"
    std::string serverPort;                             // [Server] "Port", as text
    int32_t resolutionX = 0;                            // window size after the mode correction
    int32_t resolutionY = 0;
    irr::gui::IGUIStaticText* infoText = nullptr;  // loading and FPS text of a game
    GameState gameState = GS_GAME_RUN;
    int32_t debugDrawMode = 0;                           // physics debug drawing, 0..2
    Control* control = nullptr;                          // per game
    EventReceiver* eventReceiver = nullptr;              // main
    IniFile* iniFile = nullptr;                          // owned by main
    Log* log = nullptr;                                  // owned by main
    irr::video::SColor clearColor{0};                    // every begin-scene
    Physics* physics = nullptr;                          // per game
    Hud* hud = nullptr;                                  // per game
    ParticleSystem* particleSystem = nullptr;            // per state
    ResourceHandler* resources = nullptr;                // main
    NetworkConnection* network = nullptr;                // per game
    CrashHandler* crashHandler = nullptr;                // main
    irr::gui::IGUIStaticText* menuStatusText = nullptr;  // menu
    irr::gui::IGUIStaticText* loginNameLabel = nullptr;
    irr::gui::IGUIStaticText* passwordLabel = nullptr;
    irr::gui::IGUIEditBox* loginNameBox = nullptr;
    irr::gui::IGUIEditBox* passwordBox = nullptr;
    irr::gui::IGUIButton* loginButton = nullptr;
    irr::gui::IGUIButton* optionsButton = nullptr;
    irr::gui::IGUIButton* exitButton = nullptr;
    FSOUND_STREAM* menuMusic = nullptr;  // menu music stream
    Camera* menuCamera = nullptr;
    Camera* mainCamera = nullptr;     // cockpit: id -1, far 250, aspect 0.75
    Camera* sonarCamera = nullptr;    // 3-D radar: id 2, far 2000, aspect 1
    Camera* targetCamera = nullptr;   // target view: id 3, far 300, aspect 1
    Camera* closeCamera = nullptr;    // id 4, far 10, aspect 0.75
    Object* terrainObject = nullptr;  // the level's world object
    irr::scene::ITerrainSceneNode* menuTerrainNode = nullptr;
    irr::scene::ITerrainSceneNode* terrainNode = nullptr;
    irr::scene::ITerrainSceneNode* radarTerrainNode = nullptr;
    std::vector<irr::scene::ILightSceneNode*> lightNodes;  // the six ship lights
    int32_t solidShaderMaterial = 0;
    int32_t detailShaderMaterial = 0;
    int32_t alphaShaderMaterial = 0;
    LightingShaderCallback* lightingCallback = nullptr;
    int32_t additiveMaterial = 0;  // the additive renderer's id
    bool reapplySettings = false;  // next frame re-applies the graphics settings
    bool shadersEnabled = false;   // false whenever a game runs
    bool fireAllGuns = false;      // false: the guns fire in turn
    bool drawCockpit = false;      // the Game constructor sets it true
    std::list<Trash*> trashList;   // entries owned by their list
    std::list<Station*> stationList;
    std::list<Ship*> shipList;   // the player's ship first
    Ship* playerShip = nullptr;  // also in shipList
    uint32_t lastShotTime = 0;   // device ms of the last main-weapon shot
    Weapon* lastGunFired = nullptr;
    std::list<Torpedo*> torpedoList;
    Torpedo* trackedTorpedo = nullptr;             // newest torpedo, for the HUD
    HeightMap* heightMap = nullptr;                // per game
    irr::video::IImage* menuGrassImage = nullptr;  // menu grass distribution
    // main, with the device; whole program. The time and the frame sleep of
    // every class (gameclock.h).
    GameClock* clock = nullptr;
};

extern GameGlobals globals;

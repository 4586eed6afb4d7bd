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

// Every field says when it is valid:
//   program  from main's start-up to its shutdown;
//   menu     between the menu's initialisation and its cleanup;
//   game     from Game::init to Game::cleanup, which deletes and nulls the
//            per-game objects and empties the lists; outside a game a
//            pointer is null or names something already gone;
//   state    from the entry of a state, menu or game, to its exit.
// Before main the block holds null, zero and empty values; the Game
// constructor resets it all but the crash handler (drawCockpit true).
struct GameGlobals {
    irr::IrrlichtDevice* device = nullptr;               // program; main
    irr::video::IVideoDriver* driver = nullptr;          // program; main; all drawing
    irr::gui::IGUIEnvironment* gui = nullptr;            // program; main; menu, info text, HUD
    irr::scene::ISceneManager* sceneManager = nullptr;   // program; main; all scene nodes
    std::string serverAddress;                           // program; [Server] "IP"
    std::string serverPort;                              // program; [Server] "Port", as text
    int32_t resolutionX = 0;                             // program; window size after the mode correction
    int32_t resolutionY = 0;                             // program
    irr::gui::IGUIStaticText* infoText = nullptr;        // game; loading and FPS text
    GameState gameState = GS_GAME_RUN;                   // program
    int32_t debugDrawMode = 0;                           // program; physics debug drawing, 0..2
    Control* control = nullptr;                          // game
    EventReceiver* eventReceiver = nullptr;              // program; main
    IniFile* iniFile = nullptr;                          // program; owned by main
    Log* log = nullptr;                                  // program; owned by main
    irr::video::SColor clearColor{0};                    // program; set by the menu and each game
    Physics* physics = nullptr;                          // game
    Hud* hud = nullptr;                                  // game
    ParticleSystem* particleSystem = nullptr;            // state
    ResourceHandler* resources = nullptr;                // program; main
    NetworkConnection* network = nullptr;                // game
    CrashHandler* crashHandler = nullptr;                // program; main
    irr::gui::IGUIStaticText* menuStatusText = nullptr;  // menu
    irr::gui::IGUIStaticText* loginNameLabel = nullptr;  // menu
    irr::gui::IGUIStaticText* passwordLabel = nullptr;   // menu
    irr::gui::IGUIEditBox* loginNameBox = nullptr;       // menu
    irr::gui::IGUIEditBox* passwordBox = nullptr;        // menu
    irr::gui::IGUIButton* loginButton = nullptr;         // menu
    irr::gui::IGUIButton* optionsButton = nullptr;       // menu
    irr::gui::IGUIButton* exitButton = nullptr;          // menu
    FSOUND_STREAM* menuMusic = nullptr;                  // menu; the music stream, null without music
    Camera* menuCamera = nullptr;                        // menu
    Camera* mainCamera = nullptr;                        // game; cockpit: id -1, far 250, aspect 0.75
    Camera* sonarCamera = nullptr;                       // game; 3-D radar: id 2, far 2000, aspect 1
    Camera* targetCamera = nullptr;                      // game; target view: id 3, far 300, aspect 1
    Camera* closeCamera = nullptr;                       // game; id 4, far 10, aspect 0.75
    Object* terrainObject = nullptr;                     // game; the level's world object
    irr::scene::ITerrainSceneNode* menuTerrainNode = nullptr;   // menu
    irr::scene::ITerrainSceneNode* terrainNode = nullptr;       // game
    irr::scene::ITerrainSceneNode* radarTerrainNode = nullptr;  // game; the 3-D radar's small terrain
    std::vector<irr::scene::ILightSceneNode*> lightNodes;       // game; the six ship lights
    int32_t solidShaderMaterial = 0;                            // game; -1 without shaders
    int32_t detailShaderMaterial = 0;                           // game; -1 without shaders
    int32_t alphaShaderMaterial = 0;                            // game; -1 without shaders
    LightingShaderCallback* lightingCallback = nullptr;         // game; the block holds one reference
    int32_t additiveMaterial = 0;                  // game; the id each game's additive renderer gets
    bool reapplySettings = false;                  // program; the next frame re-applies the graphics settings
    bool shadersEnabled = false;                   // program; false whenever a game runs
    bool fireAllGuns = false;                      // program; false: the guns fire in turn
    bool drawCockpit = false;                      // program; the Game constructor sets it true
    // program; the anisotropic filter of every textured material the game
    // makes: off on a software renderer (chooseAnisotropicFilter)
    bool anisotropicFilter = true;
    std::list<Trash*> trashList;                   // game; entries owned by their list
    std::list<Station*> stationList;               // game
    std::list<Ship*> shipList;                     // game; the player's ship first
    Ship* playerShip = nullptr;                    // game; also in shipList
    uint32_t lastShotTime = 0;                     // game; device ms of the last main-weapon shot
    Weapon* lastGunFired = nullptr;                // game
    std::list<Torpedo*> torpedoList;               // game
    Torpedo* trackedTorpedo = nullptr;             // game; newest torpedo, for the HUD
    HeightMap* heightMap = nullptr;                // game
    irr::video::IImage* menuGrassImage = nullptr;  // menu; grass distribution
    GameClock* clock = nullptr;                    // program; set with the device, read by every class
    std::string loginName;                         // program; the menu's login form as the menu last ended (UTF-8)
    std::string loginPassword;                     // program; likewise
};

extern GameGlobals globals;

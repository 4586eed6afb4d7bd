// Every mesh, texture, render target, font and sound sample the game uses,
// loaded once at start-up and handed out by id. Ids are unique within a kind
// and independent between kinds; an id not in its table gives null. The
// caller gets no new reference.
#pragma once

#include <irrlicht.h>

#include <map>
#include <string>

struct FSOUND_SAMPLE;
class MediaManifest;

class ResourceHandler {
public:
    ResourceHandler();
    // Removes the driver's textures and empties the tables.
    virtual ~ResourceHandler();

    // Loads everything in a fixed order. False (quietly) when the driver cannot
    // render to a texture; a file that cannot be loaded throws an Exception
    // naming it. What was loaded before stays in the tables. A file reaches
    // the engine only when it matches the media's manifest (see
    // mediamanifest.h); one that does not throws the same Exception.
    bool loadAll();

    irr::scene::IAnimatedMesh* getMesh(irr::s32 id) const;
    irr::scene::IMesh* getCreatedMesh(irr::s32 id) const;
    irr::video::ITexture* getTexture(irr::s32 id) const;
    irr::gui::IGUIFont* getFont(irr::s32 id) const;
    FSOUND_SAMPLE* getSound(irr::s32 id) const;
    // "Missing!" for an id without a text (no text is loaded in this system).
    std::string getText(irr::s32 id) const;

private:
    bool loadMeshes(const MediaManifest& manifest);
    void loadMesh(const MediaManifest& manifest, irr::s32 id, const char* path, const char* failure);
    bool loadTextures(const MediaManifest& manifest);
    bool createRenderTargets();
    bool loadFonts(const MediaManifest& manifest);
    bool loadSounds(const MediaManifest& manifest);

    std::map<irr::s32, std::string> texts;
    std::map<irr::s32, irr::scene::IAnimatedMesh*> meshes;  // the scene manager's cache owns them
    std::map<irr::s32, irr::scene::IMesh*> createdMeshes;   // the table holds the creating reference
    std::map<irr::s32, irr::video::ITexture*> textures;     // the driver's texture list owns them
    std::map<irr::s32, irr::gui::IGUIFont*> fonts;          // the GUI environment owns them
    std::map<irr::s32, FSOUND_SAMPLE*> sounds;              // the sound library's slots own them
};

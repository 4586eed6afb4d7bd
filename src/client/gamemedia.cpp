#include "client/gamemedia.h"

#include "client/globals.h"

GameMedia::GameMedia() {
    manifest.read("media");
}

bool GameMedia::intact(const char* path) const {
    return manifest.fileIntact(path);
}

irr::video::ITexture* GameMedia::texture(const char* path) const {
    irr::video::IVideoDriver* driver = globals.driver;
    if (driver == nullptr) {
        return nullptr;
    }
    if (irr::video::ITexture* loaded = driver->findTexture(path)) {
        return loaded;
    }
    return intact(path) ? driver->getTexture(path) : nullptr;
}

irr::video::IImage* GameMedia::image(const char* path) const {
    irr::video::IVideoDriver* driver = globals.driver;
    return driver != nullptr && intact(path) ? driver->createImageFromFile(path) : nullptr;
}

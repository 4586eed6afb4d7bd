#include "client/gamemedia.h"

#include "client/exception.h"
#include "client/globals.h"

#include <string>

namespace {

[[noreturn]] void cannotLoad(const char* kind, const char* path) {
    const std::string message = std::string("Can't load ") + kind + ": '" + path + "'!";
    THROW_EXCEPTION(message.c_str());
}

}  // namespace

GameMedia::GameMedia() {
    manifest.read("media");
}

bool GameMedia::intact(const char* path) const {
    return manifest.fileIntact(path);
}

void GameMedia::require(const char* kind, const char* path) const {
    if (!intact(path)) {
        cannotLoad(kind, path);
    }
}

irr::video::ITexture* GameMedia::texture(const char* kind, const char* path) const {
    irr::video::IVideoDriver* driver = globals.driver;
    irr::video::ITexture* loaded = driver != nullptr ? driver->findTexture(path) : nullptr;
    if (loaded == nullptr && driver != nullptr && intact(path)) {
        loaded = driver->getTexture(path);
    }
    if (loaded == nullptr) {
        cannotLoad(kind, path);
    }
    return loaded;
}

irr::video::IImage* GameMedia::image(const char* kind, const char* path) const {
    irr::video::IVideoDriver* driver = globals.driver;
    irr::video::IImage* made = driver != nullptr && intact(path) ? driver->createImageFromFile(path) : nullptr;
    if (made == nullptr) {
        cannotLoad(kind, path);
    }
    return made;
}

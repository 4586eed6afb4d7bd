// Engine state that a function changes for a while, given back when the scope
// ends, on every path out of it, the throwing ones included.
#pragma once

#include <irrlicht.h>

// One of the video driver's texture creation flags, set for the scope's life;
// the flag gets its previous value back at the end.
class ScopedTextureCreationFlag {
public:
    ScopedTextureCreationFlag(irr::video::IVideoDriver* driver, irr::video::E_TEXTURE_CREATION_FLAG flag,
                              bool value)
        : driver(driver), flag(flag), previous(driver->getTextureCreationFlag(flag)) {
        driver->setTextureCreationFlag(flag, value);
    }
    ~ScopedTextureCreationFlag() { driver->setTextureCreationFlag(flag, previous); }
    ScopedTextureCreationFlag(const ScopedTextureCreationFlag&) = delete;
    ScopedTextureCreationFlag& operator=(const ScopedTextureCreationFlag&) = delete;

private:
    irr::video::IVideoDriver* driver;
    irr::video::E_TEXTURE_CREATION_FLAG flag;
    bool previous;
};

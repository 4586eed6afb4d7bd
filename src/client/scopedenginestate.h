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

// A texture's pixels, locked for the scope's life and unlocked at its end.
// get() is null when the texture is null or refused the lock; nothing is
// unlocked then.
class ScopedTextureLock {
public:
    ScopedTextureLock(irr::video::ITexture* texture, irr::video::E_TEXTURE_LOCK_MODE mode)
        : texture(texture), pixels(texture != nullptr ? texture->lock(mode) : nullptr) {}
    ~ScopedTextureLock() {
        if (pixels != nullptr) {
            texture->unlock();
        }
    }
    ScopedTextureLock(const ScopedTextureLock&) = delete;
    ScopedTextureLock& operator=(const ScopedTextureLock&) = delete;

    void* get() const { return pixels; }

private:
    irr::video::ITexture* texture;
    void* pixels;
};

// Renders into `target` (colour and depth cleared to `clear`) for the
// scope's life; at its end the back buffer is the target again, both
// buffers cleared to `backClear`. ok() is false when the driver refused the
// target; the back buffer is restored all the same.
class ScopedRenderTarget {
public:
    ScopedRenderTarget(irr::video::IVideoDriver* driver, irr::video::ITexture* target,
                       irr::video::SColor clear, irr::video::SColor backClear)
        : driver(driver),
          backClear(backClear),
          accepted(driver->setRenderTarget(target, true, true, clear)) {}
    ~ScopedRenderTarget() { driver->setRenderTarget(nullptr, true, true, backClear); }
    ScopedRenderTarget(const ScopedRenderTarget&) = delete;
    ScopedRenderTarget& operator=(const ScopedRenderTarget&) = delete;

    bool ok() const { return accepted; }

private:
    irr::video::IVideoDriver* driver;
    irr::video::SColor backClear;
    bool accepted;
};

// Makes `camera` the scene's active camera when the scope ends, whatever
// happened inside it; a null camera leaves the active one alone.
class ScopedActiveCamera {
public:
    ScopedActiveCamera(irr::scene::ISceneManager* scene, irr::scene::ICameraSceneNode* camera)
        : scene(scene), camera(camera) {}
    ~ScopedActiveCamera() {
        if (scene != nullptr && camera != nullptr) {
            scene->setActiveCamera(camera);
        }
    }
    ScopedActiveCamera(const ScopedActiveCamera&) = delete;
    ScopedActiveCamera& operator=(const ScopedActiveCamera&) = delete;

private:
    irr::scene::ISceneManager* scene;
    irr::scene::ICameraSceneNode* camera;
};

// A piece of debris thrown out when a ship breaks apart: a small box body
// that sinks under the game's gravity, trails bubbles and bursts when a
// bullet or a torpedo hits it. Lives in globals.trashList; the frame loop
// deletes dead pieces and removes their trail.
#pragma once

#include "client/object.h"

#include <cstdint>

class Trash : public Object {
public:
    // mesh: a resource id. Body: mass 1, linear damping 0.7, angular 0.25.
    Trash(const std::string& name, const irr::core::vector3df& position, const irr::core::vector3df& rotation,
          const irr::core::vector3df& size, irr::s32 mesh);
    // Destroys the body and removes the node.
    ~Trash() override;

    void setTrailEffect(int32_t id) { trail = id; }
    int32_t getTrailEffect() const { return trail; }
    // First hit only: sound and explosion. Every call marks it dead.
    void hit();

private:
    int32_t hitOnce = 0;
    int32_t trail = -1;
};

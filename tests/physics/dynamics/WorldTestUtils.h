// Shared by the world tests: a world built twice on the allocation hooks in
// force, the second time under counting hooks that must get every block back.
#pragma once

#include <gtest/gtest.h>

#include "CountingHooks.h"
#include "dgMemory.h"
#include "dgWorld.h"

// Runs `scene` on a new world in two rounds. The first builds the shared
// pools (trees, pages, broad-phase cells), which stay for the process; the
// second runs under counting hooks. `scene` destroys the world; afterwards
// every block it took must be back, released through the hooks that gave it
// and with its own size.
template <typename Scene>
void expectEveryBlockBack(Scene scene) {
    expectBalancedOnSecondRun([&scene] {
        dgAllocHook allocate;
        dgReleaseHook release;
        dgGetAllocatorHooks(&allocate, &release);
        dgWorld* world = dgWorldCreate(allocate, release);
        ASSERT_NE(world, nullptr);
        scene(world);
    });
}

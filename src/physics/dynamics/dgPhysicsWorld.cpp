// The public interface's world functions: creation and destruction, the
// update, the world box, the walks over the bodies, the solver settings and
// freezing.
//
// Walks over the bodies call the game back midway; they borrow the sub-step's
// deferral (dgApiWalk), so that a body destroyed or a shape given back from a
// callback stays whole until the walk is over. What would tear down what an
// update or a walk holds (the world, all bodies, the world box, the material
// table) is refused while either runs.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <new>

#include "dgApiWorld.h"
#include "dgAssert.h"
#include "dgBody.h"
#include "dgBroadPhase.h"
#include "dgCpu.h"
#include "dgMemory.h"
#include "dgPhysics.h"
#include "dgWorld.h"

namespace {

constexpr int32_t kVersion = 153;
// Extent of the world box of a new world, and after all bodies are gone.
constexpr float kDefaultWorldExtent = 100.0f;

dgVector point3(const float* v) {
    return dgVector(v[0], v[1], v[2], 1.0f);
}

}  // namespace

// ---- world ----

int32_t dgWorldGetVersion() {
    return kVersion;
}

dgWorld* dgWorldCreate(dgAllocMemoryCallback allocate, dgFreeMemoryCallback release) {
    // Hooks first: everything the world allocates must come from them.
    dgSetAllocatorHooks(allocate, release);
    void* block = dgMalloc(sizeof(dgApiWorld));
    if (!block) {
        return nullptr;
    }
    dgApiWorld* world = ::new (block) dgApiWorld();
    dgBroadPhaseSetWorldSize(&world->m_broadPhase, dgVector(-100.0f, -100.0f, -100.0f, 0.0f),
                             dgVector(100.0f, 100.0f, 100.0f, 0.0f));
    return world;
}

void dgWorldDestroy(dgWorld* world) {
    if (!world) {
        return;
    }
    dgApiWorld* apiWorld = dgApiWorldOf(world);
    // From a callback: the caller's update or walk still holds the world.
    if (apiWorld->m_updating) {
        return;
    }
    apiWorld->~dgApiWorld();
    dgFree(apiWorld);
}

void dgWorldDestroyAllBodies(dgWorld* world) {
    if (!world || dgWorldIsUpdating(world)) {
        return;
    }
    dgApiWorld* apiWorld = dgApiWorldOf(world);
    // Hierarchies first, their parts' bodies with them. A destructor callback may
    // call in here while its own body, marked, is still in the tree: such
    // bodies are passed over (as many as destructions are nested).
    dgAssemblyDestroyAll(apiWorld);
    dgBodyTree::Node* node = apiWorld->m_bodyTree.getFirst();
    while (node) {
        dgBody* body = node->getPayload();
        if (body->m_flags & dgBodyFlagDestroying) {
            node = node->getNext();
            continue;
        }
        apiWorld->destroyBody(body);
        node = apiWorld->m_bodyTree.getFirst();
    }
    // The box last: re-filing bodies about to go would only call their
    // out-of-bounds callbacks.
    const float low[3] = {-kDefaultWorldExtent, -kDefaultWorldExtent, -kDefaultWorldExtent};
    const float high[3] = {kDefaultWorldExtent, kDefaultWorldExtent, kDefaultWorldExtent};
    dgWorldSetSize(world, low, high);
}

void dgWorldUpdate(dgWorld* world, float elapsed) {
    if (!world) {
        return;
    }
    dgApiWorld* apiWorld = dgApiWorldOf(world);
    if (apiWorld->m_updating) {
        return;
    }
    float subStep = 0.0f;
    const int32_t count = dgWorldPlanUpdate(elapsed, apiWorld->m_maxSubStep, &subStep);
    apiWorld->m_updating = dgApiWorld::kUpdatingCall;
    for (int32_t i = 0; i < count; ++i) {
        apiWorld->update(subStep);
    }
    apiWorld->m_updating = 0;
}

void dgWorldSetMinimumFrameRate(dgWorld* world, float rate) {
    if (!world || !std::isfinite(rate)) {
        return;
    }
    if (!(rate >= dgApiWorld::kMinFrameRate)) {
        rate = dgApiWorld::kMinFrameRate;
    } else if (rate > dgApiWorld::kMaxFrameRate) {
        rate = dgApiWorld::kMaxFrameRate;
    }
    dgApiWorldOf(world)->m_maxSubStep = 1.0f / rate;
}

float dgWorldGetTimeStep(const dgWorld* world) {
    return world ? world->m_timeStep : 0.0f;
}

int32_t dgWorldGetNonFiniteIslandCount(const dgWorld* world) {
    return world ? int32_t(std::min(world->m_nonFiniteIslands, uint32_t(INT32_MAX))) : 0;
}

void dgWorldSetSize(dgWorld* world, const float* minimum, const float* maximum) {
    if (!world || !minimum || !maximum || dgWorldIsUpdating(world)) {
        return;
    }
    // Re-filing moves every body, and an out-of-bounds callback may destroy
    // one the broad phase has gathered.
    dgApiWalk walk(world);
    dgBroadPhaseSetWorldSize(&world->m_broadPhase, point3(minimum), point3(maximum));
}

void dgWorldForEachBodyDo(dgWorld* world, dgBodyIteratorCallback callback) {
    if (!world || !callback) {
        return;
    }
    dgApiWalk walk(world);
    // Nothing leaves the tree during the walk; a body created by a callback
    // may or may not be visited.
    for (dgBodyTree::Node* node = world->m_bodyTree.getFirst(); node; node = node->getNext()) {
        dgBody* body = node->getPayload();
        if (!walk.doomed(body)) {
            callback(body);
        }
    }
}

namespace {

// What one box walk needs in its callback; the iterator callback carries no
// user word, so the walk in progress is kept here (the engine runs on one
// thread). Walks nest (a callback may start another): each puts back the one
// it replaced when it ends.
struct dgBoxWalkState {
    const dgApiWalk* walk;
    dgBodyIteratorCallback callback;
};
dgBoxWalkState* g_boxWalk = nullptr;

void boxWalkVisit(dgBody* body) {
    DG_ASSERT(g_boxWalk);
    if (!g_boxWalk->walk->doomed(body)) {
        g_boxWalk->callback(body);
    }
}

// The ray cast's user word during dgWorldRayCast: the caller's callbacks and
// word, and the walk whose doomed bodies the prefilter passes over.
struct dgRayWalkState {
    const dgApiWalk* walk;
    dgWorldRayFilterCallback filter;
    dgWorldRayPrefilterCallback prefilter;
    void* userData;
};

float rayWalkFilter(dgBody* body, const float* normal, uint32_t attribute, void* user, float t) {
    const dgRayWalkState* state = static_cast<const dgRayWalkState*>(user);
    return state->filter(body, normal, attribute, state->userData, t);
}

uint32_t rayWalkPrefilter(const dgBody* body, const dgCollision* shape, void* user) {
    const dgRayWalkState* state = static_cast<const dgRayWalkState*>(user);
    if (state->walk->doomed(body)) {
        return 0;
    }
    return state->prefilter ? state->prefilter(body, shape, state->userData) : 1u;
}

}  // namespace

void dgWorldForEachBodyInAABB(dgWorld* world, const float* minimum, const float* maximum,
                              dgBodyIteratorCallback callback) {
    if (!world || !minimum || !maximum || !callback) {
        return;
    }
    dgApiWalk walk(world);
    dgBoxWalkState state{&walk, callback};
    dgBoxWalkState* const outer = g_boxWalk;
    g_boxWalk = &state;
    dgBroadPhaseForEachBodyInBox(&world->m_broadPhase, minimum, maximum, boxWalkVisit);
    g_boxWalk = outer;
}

void dgWorldRayCast(dgWorld* world, const float* p0, const float* p1, dgWorldRayFilterCallback filter,
                    void* userData, dgWorldRayPrefilterCallback prefilter) {
    if (!world || !p0 || !p1 || !filter) {
        return;
    }
    dgApiWalk walk(world);
    dgRayWalkState state{&walk, filter, prefilter, userData};
    dgBroadPhaseRayCast(&world->m_broadPhase, point3(p0), point3(p1), rayWalkFilter, rayWalkPrefilter,
                        &state);
}

void dgWorldSetSimdMode(dgWorld* world, int32_t mode) {
    if (world) {
        world->m_simdFlag = mode ? dgCpuHasSimd() : 0;
    }
}

void dgWorldSetSolverIterationMode(dgWorld* world, int32_t mode) {
    if (world) {
        world->m_solverIterationMode = (mode < 0) ? 0 : mode;
    }
}

void dgWorldSetSolverOption(dgWorld* world, int32_t option) {
    if (world) {
        world->m_solverOption = uint32_t(option);
    }
}

void dgWorldSetOutOfBoundsCallback(dgWorld* world, dgBodyOutOfBoundsCallback callback) {
    if (world) {
        world->m_outOfBounds = callback;
    }
}

void dgWorldFreezeBody(dgWorld* world, dgBody* body) {
    if (!world || !body || (body->m_world != world) || !body->m_activeNode) {
        return;
    }
    world->m_activeBodyTree.remove(body->m_activeNode);
    body->m_activeNode = nullptr;
    if ((body->m_flags & dgBodyFlagActive) && body->m_activation) {
        body->m_activation(body, 0);
    }
    body->m_flags &= ~uint32_t(dgBodyFlagActive);
}

void dgWorldUnfreezeBody(dgWorld* world, dgBody* body) {
    if (!world || !body || (body->m_world != world) || body->m_activeNode) {
        return;
    }
    body->m_activeNode = dgTreeNodeInsertByKey(&world->m_activeBodyTree, body, dgBodyKey(body), nullptr);
    if (!(body->m_flags & dgBodyFlagActive) && body->m_activation) {
        body->m_activation(body, 1);
    }
    body->m_flags |= dgBodyFlagActive;
}

void dgWorldSetUserData(dgWorld* world, void* userData) {
    if (world) {
        world->m_userData = userData;
    }
}

void* dgWorldGetUserData(const dgWorld* world) {
    return world ? world->m_userData : nullptr;
}

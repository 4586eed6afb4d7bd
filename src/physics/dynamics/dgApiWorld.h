// The interface world: the object the flat interface hands out as the world
// handle. On top of the world core it adds sub-stepping of an update and the
// deferral of destruction requested while a step runs, so that no callback
// can pull a body or joint from under the step's own traversal.
#pragma once

#include <cstdint>

#include "dgAssembly.h"
#include "dgWorkStack.h"
#include "dgWorld.h"

class dgBody;
class dgCollision;
class dgConstraint;

// Joints keyed by dgJointKey (the deferred joint set).
typedef dgRbTree<dgConstraint*, uintptr_t> dgJointTree;

class dgApiWorld : public dgWorld {
public:
    // Smallest and largest step of one update, in seconds.
    static constexpr float kMinUpdateStep = 0.001f;
    static constexpr float kMaxUpdateStep = 0.016666668f;
    // Bounds of dgWorldSetMinimumFrameRate, frames per second.
    static constexpr float kMinFrameRate = 59.999996f;
    static constexpr float kMaxFrameRate = 999.99994f;

    // Bits of m_updating.
    // A sub-step runs: destruction is deferred.
    static constexpr uint32_t kUpdatingStep = 1u;
    // dgWorldUpdate runs (sub-steps and the destruction after them): another
    // update is refused.
    static constexpr uint32_t kUpdatingCall = 2u;
    // The world is being destroyed: the callbacks of its bodies may call in,
    // and what an update refuses is refused (the world's destruction too).
    static constexpr uint32_t kTearingDown = 4u;

    // No hierarchies, empty deferred sets, maximum sub-step 1/60, not updating.
    dgApiWorld();
    // Destroys the hierarchies, frees the deferred sets without destroying
    // what they hold, then releases the point shape and destroys every body
    // (with its joints) before the core's teardown.
    ~dgApiWorld();

    // One sub-step of timestep seconds: dgWorldStep with destruction
    // deferred, then destroyDeferred.
    void update(float timestep);
    // Destroys the deferred joints, then the deferred bodies, emptying both
    // sets; what their callbacks destroy goes at once.
    void destroyDeferred();

    // Destroys the body (destructor callback first, its place in the broad
    // phase, its joints, the activation callback when it was awake, then its
    // shape reference and its place in the trees); during a
    // sub-step only records it, once, for the end of the sub-step. A body
    // already being destroyed is left alone.
    void destroyBody(dgBody* body);
    // The same for a joint (dgWorldDestroyConstraint).
    void destroyJoint(dgConstraint* joint);
    // Gives back a shape reference through the collision cache; during a
    // sub-step only records it for the end of the sub-step, as the step may
    // still be using the shape. False (nothing done) when it cannot be
    // recorded.
    bool releaseCollision(dgCollision* shape);
    // Gives back every recorded shape reference.
    void releaseDeferredCollisions();

    // ---- fields, in record order (after the core's) ----

    // The body hierarchies (dgAssembly.h); each node's payload is one.
    dgAssemblyList m_assemblies;
    // Bodies and joints whose destruction was asked for during the sub-step.
    dgBodyTree m_deferredBodies;
    dgJointTree m_deferredJoints;
    // Shape references given back during the sub-step.
    dgWorkStack<dgCollision*> m_deferredShapes;
    // The hierarchies whose bodies moved in the current sub-step, in the
    // order queued; emptied by dgWorldUpdateHierarchies.
    dgAssemblyQueue m_hierarchyUpdates;
    // Longest sub-step in seconds.
    float m_maxSubStep;
    // kUpdatingStep, kUpdatingCall and kTearingDown bits.
    uint32_t m_updating;

private:
    void destroyBodyNow(dgBody* body);
    void destroyJointNow(dgConstraint* joint);
};

// The interface world behind a handle made by dgWorldCreate.
inline dgApiWorld* dgApiWorldOf(dgWorld* world) {
    return static_cast<dgApiWorld*>(world);
}

// A walk that calls the game back midway: over the world's bodies, a box or
// a ray of them, or over a body's faces. It borrows the sub-step's deferral
// (kUpdatingStep), so that a body destroyed or a shape given back from a
// callback stays whole until the walk is over; what would tear down what the
// walk holds is refused meanwhile, as during an update. At its end the walk
// destroys and releases what was deferred, unless a sub-step still runs,
// which does so at its own end.
class dgApiWalk {
public:
    explicit dgApiWalk(dgWorld* world);
    ~dgApiWalk();
    dgApiWalk(const dgApiWalk&) = delete;
    dgApiWalk& operator=(const dgApiWalk&) = delete;

    // True when the body's destruction was asked for: the walk skips it.
    bool doomed(const dgBody* body) const;

private:
    dgApiWorld* m_world;
    uint32_t m_saved;
};

// True between the start and the end of an update: what the flat interface
// refuses to callbacks then.
inline bool dgWorldIsUpdating(const dgWorld* world) {
    return static_cast<const dgApiWorld*>(world)->m_updating != 0;
}

// After every sub-step, still inside the update: each body hierarchy whose
// bodies moved reports its parts (last queued first, each once), and the
// update list is left empty (dgAssembly.cpp).
void dgWorldUpdateHierarchies(dgApiWorld* world);

// How an update of `elapsed` seconds is stepped: elapsed clamped to
// [0.001, 1/60] (NaN and negative times to 0.001, +inf to 1/60), divided into
// the returned count of equal sub-steps no longer than maxSubStep (written to
// *subStep).
int32_t dgWorldPlanUpdate(float elapsed, float maxSubStep, float* subStep);

// ---- flat interface ----

// dgWorldUpdate (sub-steps by dgWorldPlanUpdate), dgWorldSetMinimumFrameRate,
// dgCreateBody, dgDestroyBody and dgDestroyJoint are in the public header.

// A body hierarchy: a tree of parts (dgAssemblyPart) built between a begin
// and an end call, whose update callback reports the parts after every
// sub-step in which its bodies moved.
//
// Assemblies live in the interface world's assembly list (the handle is the
// list node's payload); the world's hierarchy update list holds the
// assemblies queued in the current sub-step. Both lists are the interface
// world's (dgApiWorld.h).
#pragma once

#include <cstdint>

#include "dgMatrix.h"
#include "dgPhysics.h"
#include "dgRefList.h"

class dgApiWorld;
class dgAssembly;
class dgAssemblyPart;
class dgBody;

typedef dgRefList<dgAssembly> dgAssemblyList;
typedef dgRefList<dgAssembly*> dgAssemblyQueue;

class dgAssembly {
public:
    explicit dgAssembly(dgApiWorld* world);
    // Unqueues the assembly and releases the tree (every part and its body).
    ~dgAssembly();
    dgAssembly(const dgAssembly&) = delete;
    dgAssembly& operator=(const dgAssembly&) = delete;

    // Releases the tree; root null. Unqueues.
    void clear();
    // Takes the assembly out of the world's update list when queued.
    void unqueue();
    // Building, previous tree released. Refused during the walk.
    void beginBuild();
    // Not building; each part in post-order takes its body over (back-link,
    // forwarder and queue callbacks, freeze thresholds x 16). Only after a
    // begin: a second end would grow the thresholds again.
    void endBuild();

    // ---- fields, in record order ----

    dgApiWorld* m_world;
    // Holds one reference; null when empty.
    dgAssemblyPart* m_root;
    // Between begin and end of a build.
    bool m_building;
    // Every part body's force-and-torque callback goes to it.
    dgBodyForceAndTorqueCallback m_forceCallback;
    dgAssemblyUpdateCallback m_updateCallback;
    // The node of the world's update list holding the assembly; null when not
    // queued.
    dgAssemblyQueue::Node* m_queued;
    // This assembly's node in the world's assembly list.
    dgAssemblyList::Node* m_node;
    // True while the update callback walks the parts: the tree must stay.
    bool m_walking;
    // Destruction asked for during the walk: done when the walk ends.
    bool m_doomed;
};

// False once the assembly's destruction has begun or was asked for: what
// the flat interface then refuses.
inline bool dgAssemblyAlive(const dgAssembly* assembly) {
    return assembly->m_node->isLive() && !assembly->m_doomed;
}

// A new assembly at the end of the world's list; null when no node can be had.
dgAssembly* dgAssemblyCreate(dgApiWorld* world);
// Destroys the assembly (deferred to the end of its own update walk).
void dgAssemblyDestroy(dgAssembly* assembly);
// Every assembly of the world, at once (the world's teardown and
// dgWorldDestroyAllBodies).
void dgAssemblyDestroyAll(dgApiWorld* world);

// The part; input checked by the flat interface, except for what only the
// assembly knows (building, the parent's assembly, one root).
dgAssemblyPart* dgAssemblyAddPartChecked(dgAssembly* assembly, dgAssemblyPart* parent, void* userData, float mass,
                                         const dgMatrix& matrix, dgCollision* collision, const float* size);

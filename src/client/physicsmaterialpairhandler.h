// The contact callbacks' memory of the body pair being processed: the user
// data of every game group pair that has callbacks. One handler serves all
// pairs, which holds because the world processes one body pair at a time
// between its begin and end callbacks.
#pragma once

class Object;

class PhysicsMaterialPairHandler {
public:
    virtual ~PhysicsMaterialPairHandler() = default;

    // The pair's objects, from the bodies' user data; both null outside a
    // pair.
    Object* objectA = nullptr;
    Object* objectB = nullptr;
    // Set once the contact rules ran for the pair in this pass, so they run
    // once per pair and pass while every further point of the pair is kept.
    bool rulesApplied = false;

    void clear() {
        objectA = nullptr;
        objectB = nullptr;
        rulesApplied = false;
    }
};

// Helpers of the contact persistence and body-pair pass tests: a world with
// bodies the test owns (cleared storage, shape, pose, inverse mass; nothing
// filed in the broad phase), a bilateral test joint and a recorder for the
// material callbacks.
#pragma once

#include <algorithm>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "ShapeTestUtils.h"
#include "dgBody.h"
#include "dgCollision.h"
#include "dgConstraint.h"
#include "dgContact.h"
#include "dgMaterialPair.h"
#include "dgWorld.h"

namespace contacttest {

using namespace shapetest;

// A joint that ties two bodies together, in the test's own storage.
class TestJoint : public dgConstraint {
public:
    TestJoint() = default;
    void setDestructorCallback(dgConstraintDestructorCallback) override {}
    void release() override {}
    bool isBilateral() const override { return true; }
    int32_t submitRows(dgJointRowBlock&) override { return 0; }
};

// Takes a joint attached with dgWorldAttachConstraint out of both rings.
inline void detachJoint(dgWorld* world, dgConstraint* joint) {
    dgWorldDestroyConstraint(world, joint);
}

// The pair's contact joint (the first contact linking the two), or null.
inline dgContact* contactOf(dgBody* a, dgBody* b) {
    for (dgJointLink* link = dgWorldFindJointLink(a, b); link; link = dgWorldFindBodyLink(link, b)) {
        if (link->m_joint->m_typeId == dgJointTypeContact) {
            return static_cast<dgContact*>(link->m_joint);
        }
    }
    return nullptr;
}

// The first `count` records of a joint's list (all of them for -1).
inline std::vector<dgMaterialPair*> pointsOf(dgContact* joint, int32_t count = -1) {
    std::vector<dgMaterialPair*> out;
    int32_t i = 0;
    for (dgContactPointList::Node* node = joint->m_points.getFirst(); node && (count < 0 || i < count);
         node = node->getNext(), ++i) {
        out.push_back(&node->getValue());
    }
    return out;
}

// A world and bodies owned by the test. The world goes before the bodies:
// the contact joints it releases still read their bodies.
class ContactWorld {
public:
    ContactWorld() : m_world(dgWorldCreate(nullptr, nullptr)) {}
    ~ContactWorld() {
        for (auto& slot : m_bodies) {
            dgBody* body = reinterpret_cast<dgBody*>(slot.get());
            if (body->m_collision) {
                dgReleaseCollision(m_world, body->m_collision);
                body->m_collision = nullptr;
            }
        }
        dgWorldDestroy(m_world);
    }
    ContactWorld(const ContactWorld&) = delete;
    ContactWorld& operator=(const ContactWorld&) = delete;

    dgWorld* world() const { return m_world; }

    // A cleared body holding shape (the caller's reference passes to the
    // body; null for a shapeless body) at pose; invMass 0 makes it static.
    dgBody* addBody(dgCollision* shape, const dgMatrix& pose, float invMass) {
        m_bodies.emplace_back(new Slot());
        dgBody* body = dgBody::createCleared(m_bodies.back().get());
        body->m_world = m_world;
        body->m_serial = ++m_world->m_bodySerial;
        body->m_collision = shape;
        body->m_invMass = dgVector(invMass, invMass, invMass, invMass);
        if (shape) {
            dgBodySetMatrixInternal(body, pose);
        } else {
            body->m_matrix = pose;
        }
        return body;
    }
    dgBody* addBox(float dx, float dy, float dz, const dgMatrix& pose, float invMass) {
        return addBody(dgCreateBox(m_world, dx, dy, dz, nullptr), pose, invMass);
    }

private:
    struct alignas(16) Slot {
        unsigned char bytes[sizeof(dgBody)];
    };

    HookGuard m_guard;
    dgWorld* m_world;
    std::vector<std::unique_ptr<Slot>> m_bodies;
};

// What the material callbacks saw, and what they answer. One script at a time.
struct Script {
    // "begin", "process", "end", "compound" in call order.
    std::vector<std::string> log;
    int32_t beginAnswer = 1;
    int32_t compoundAnswer = 1;
    // Process calls (counted from 0) refused by answering 0, and those
    // refused by clearing the collidable bit.
    std::vector<int32_t> refuseByAnswer;
    std::vector<int32_t> refuseByFlag;
    int32_t processCalls = 0;
    // Points handed to the process callback, and the joints.
    std::vector<dgMaterialPair*> processed;
    std::vector<dgContact*> joints;
    // Shapes the first body held during compound callbacks.
    std::vector<const dgCollision*> compoundShapes0;
    std::vector<const dgCollision*> compoundShapes1;
    // Bodies watched by the end callback, and their flags seen there.
    dgBody* watch0 = nullptr;
    dgBody* watch1 = nullptr;
    uint32_t endFlags0 = 0;
    uint32_t endFlags1 = 0;

    static Script*& current() {
        static Script* s = nullptr;
        return s;
    }
    Script() { current() = this; }
    ~Script() { current() = nullptr; }
    Script(const Script&) = delete;
    Script& operator=(const Script&) = delete;

    static bool contains(const std::vector<int32_t>& list, int32_t value) {
        return std::find(list.begin(), list.end(), value) != list.end();
    }

    static int32_t begin(dgMaterialPair*, dgBody*, dgBody*) {
        current()->log.push_back("begin");
        return current()->beginAnswer;
    }
    static int32_t process(dgMaterialPair* point, dgContact* joint) {
        Script* s = current();
        s->log.push_back("process");
        s->processed.push_back(point);
        s->joints.push_back(joint);
        const int32_t call = s->processCalls++;
        if (contains(s->refuseByFlag, call)) {
            point->m_flags &= ~uint32_t(dgMaterialFlagCollidable);
        }
        return contains(s->refuseByAnswer, call) ? 0 : 1;
    }
    static void end(dgMaterialPair*) {
        Script* s = current();
        s->log.push_back("end");
        if (s->watch0) {
            s->endFlags0 = s->watch0->m_flags;
        }
        if (s->watch1) {
            s->endFlags1 = s->watch1->m_flags;
        }
    }
    static int32_t compound(dgMaterialPair*, dgBody* body0, dgBody* body1) {
        Script* s = current();
        s->log.push_back("compound");
        s->compoundShapes0.push_back(body0->m_collision);
        s->compoundShapes1.push_back(body1->m_collision);
        return s->compoundAnswer;
    }

    // The log with runs of one name folded into one entry.
    std::string folded() const {
        std::string out;
        for (size_t i = 0; i < log.size(); ++i) {
            if ((i > 0) && (log[i] == log[i - 1])) {
                continue;
            }
            out += out.empty() ? log[i] : "," + log[i];
        }
        return out;
    }
};

// Installs every callback of the script on the material.
inline void scriptAll(dgMaterialPair* material) {
    material->m_begin = &Script::begin;
    material->m_process = &Script::process;
    material->m_end = &Script::end;
    material->m_compound = &Script::compound;
}

}  // namespace contacttest

// The joint functions of the public header: creation of every joint type
// with its input checked, the common joint accessors, the per-type accessors
// and the user joint's rows. Every function checks the handle's type before
// it treats a joint as one of its class, so that a joint of another type is
// answered like a null one instead of being read as something it is not.
#include <cmath>

#include "dgApiWorld.h"
#include "dgBallJoint.h"
#include "dgBody.h"
#include "dgCorkscrewJoint.h"
#include "dgFlatInput.h"
#include "dgHingeJoint.h"
#include "dgMathUtils.h"
#include "dgPhysics.h"
#include "dgSliderJoint.h"
#include "dgUniversalJoint.h"
#include "dgUpVectorJoint.h"
#include "dgUserJoint.h"
#include "dgWorld.h"

namespace {

dgVector point3(const float* v) {
    return dgVector(v[0], v[1], v[2], 1.0f);
}

dgVector axis3(const float* v) {
    return dgVector(v[0], v[1], v[2], 0.0f);
}

// A pin whose length is finite and not zero (its square neither underflows
// nor overflows).
bool usablePin(const float* pin) {
    if (!dgIsFiniteArray(pin, 3)) {
        return false;
    }
    const float length2 = axis3(pin).dot(axis3(pin));
    return (length2 > 0.0f) && std::isfinite(length2);
}

// A joint measured from a body whose pose went non-finite (wild forces
// overflowed it) has nothing to read: its readings give 0, never NaN.
float reading(float v) {
    return std::isfinite(v) ? v : 0.0f;
}

void store3(const dgVector& v, float* out) {
    if (out) {
        const bool finite = std::isfinite(v.x) && std::isfinite(v.y) && std::isfinite(v.z);
        out[0] = finite ? v.x : 0.0f;
        out[1] = finite ? v.y : 0.0f;
        out[2] = finite ? v.z : 0.0f;
    }
}

void zero3(float* out) {
    store3(dgVector(0.0f, 0.0f, 0.0f, 0.0f), out);
}

// A body whose origin lies within the scale float rows carry: the joint's
// frames are measured from it, and one far beyond it overflows them (the
// ball's pin from the child's origin to the pivot squares to infinity).
bool withinScale(const dgBody* body) {
    return dgFlatWithinScale(&body->m_matrix.position.x, 3);
}

// The bodies a joint of world may link: a child of the world and a parent of
// the same world (or none), both within the scale.
bool jointBodies(const dgWorld* world, const dgBody* child, const dgBody* parent) {
    return world && child && (child->m_world == world) && withinScale(child) &&
           (!parent || ((parent->m_world == world) && withinScale(parent)));
}

// The joint as its class when it is of that type, else null.
template <class T>
T* jointAs(dgConstraint* joint, uint16_t type) {
    return (joint && (joint->m_typeId == type)) ? static_cast<T*>(joint) : nullptr;
}

template <class T>
const T* jointAs(const dgConstraint* joint, uint16_t type) {
    return (joint && (joint->m_typeId == type)) ? static_cast<const T*>(joint) : nullptr;
}

// The two-body joints (every joint the public header makes); contacts and
// whatever else the engine links are not.
dgBilateralJoint* bilateral(dgConstraint* joint) {
    if (!joint) {
        return nullptr;
    }
    switch (joint->m_typeId) {
        case dgJointTypeBall:
        case dgJointTypeHinge:
        case dgJointTypeSlider:
        case dgJointTypeUpVector:
        case dgJointTypeUniversal:
        case dgJointTypeCorkscrew:
        case dgJointTypeDefault:
            return static_cast<dgBilateralJoint*>(joint);
        default:
            return nullptr;
    }
}

// Stop accelerations: 0 without a joint of the type or a descriptor.
template <class T, class Stop>
float stop(const dgConstraint* joint, uint16_t type, const dgJointUserDescriptor* desc, Stop calculate) {
    const T* typed = jointAs<T>(joint, type);
    return (typed && desc) ? calculate(*typed, *desc) : 0.0f;
}

}  // namespace

// ---- creation ----

dgConstraint* dgCreateBallJoint(dgWorld* world, const float* pivot, dgBody* child, dgBody* parent) {
    if (!jointBodies(world, child, parent) || !dgFlatWithinScale(pivot, 3)) {
        return nullptr;
    }
    return dgWorldCreateBall(world, point3(pivot), child, parent);
}

dgConstraint* dgCreateHingeJoint(dgWorld* world, const float* pivot, const float* pin, dgBody* child,
                                 dgBody* parent) {
    if (!jointBodies(world, child, parent) || !dgFlatWithinScale(pivot, 3) || !usablePin(pin)) {
        return nullptr;
    }
    return dgWorldCreateHinge(world, point3(pivot), axis3(pin), child, parent);
}

dgConstraint* dgCreateSliderJoint(dgWorld* world, const float* pivot, const float* pin, dgBody* child,
                                  dgBody* parent) {
    if (!jointBodies(world, child, parent) || !dgFlatWithinScale(pivot, 3) || !usablePin(pin)) {
        return nullptr;
    }
    return dgWorldCreateSlider(world, point3(pivot), axis3(pin), child, parent);
}

dgConstraint* dgCreateCorkscrewJoint(dgWorld* world, const float* pivot, const float* pin, dgBody* child,
                                     dgBody* parent) {
    if (!jointBodies(world, child, parent) || !dgFlatWithinScale(pivot, 3) || !usablePin(pin)) {
        return nullptr;
    }
    return dgWorldCreateCorkscrew(world, point3(pivot), axis3(pin), child, parent);
}

dgConstraint* dgCreateUniversalJoint(dgWorld* world, const float* pivot, const float* pin0, const float* pin1,
                                     dgBody* child, dgBody* parent) {
    // pin1 may be zero or along pin0: the joint puts one across pin0 instead.
    if (!jointBodies(world, child, parent) || !dgFlatWithinScale(pivot, 3) || !usablePin(pin0) || !dgIsFiniteArray(pin1, 3)) {
        return nullptr;
    }
    return dgWorldCreateUniversal(world, point3(pivot), axis3(pin0), axis3(pin1), child, parent);
}

dgConstraint* dgCreateUpVectorJoint(dgWorld* world, const float* pin, dgBody* body) {
    if (!jointBodies(world, body, nullptr) || !usablePin(pin)) {
        return nullptr;
    }
    return dgWorldCreateUpVector(world, axis3(pin), body);
}

dgConstraint* dgCreateUserJoint(dgWorld* world, int32_t maxRows, dgUserJointCallback callback, dgBody* child,
                                dgBody* parent) {
    if (!jointBodies(world, child, parent)) {
        return nullptr;
    }
    return dgWorldCreateUserJoint(world, maxRows, callback, child, parent);
}

// ---- common ----

void dgDestroyJoint(dgWorld* world, dgConstraint* joint) {
    if (world && joint && joint->m_body0 && (joint->m_body0->m_world == world)) {
        dgApiWorldOf(world)->destroyJoint(joint);
    }
}

void dgJointSetUserData(dgConstraint* joint, void* userData) {
    if (joint) {
        joint->m_userData = userData;
    }
}

void* dgJointGetUserData(const dgConstraint* joint) {
    return joint ? joint->m_userData : nullptr;
}

void dgJointSetCollisionState(dgConstraint* joint, int32_t state) {
    if (dgBilateralJoint* typed = bilateral(joint)) {
        typed->m_collisionState = (state != 0) ? 1 : 0;
    }
}

int32_t dgJointGetCollisionState(const dgConstraint* joint) {
    return joint ? int32_t(joint->m_collisionState) : 0;
}

void dgJointSetStiffness(dgConstraint* joint, float stiffness) {
    if (joint && std::isfinite(stiffness)) {
        joint->setStiffness(stiffness);
    }
}

float dgJointGetStiffness(const dgConstraint* joint) {
    return joint ? joint->getStiffness() : 0.0f;
}

void dgJointSetDestructorCallback(dgConstraint* joint, dgJointDestructorCallback callback) {
    if (joint) {
        joint->setDestructorCallback(callback);
    }
}

// ---- ball ----

void dgBallSetConeLimits(dgConstraint* joint, const float* pin, float coneAngle, float twistAngle) {
    dgBallJoint* ball = jointAs<dgBallJoint>(joint, dgJointTypeBall);
    if (!ball || !dgIsFiniteArray(pin, 3) || !std::isfinite(coneAngle) || !std::isfinite(twistAngle)) {
        return;
    }
    dgVector p(axis3(pin));
    if (p.dot(p) < 0.001f) {
        p.x = 1.0f;
    }
    // Normalised before the second axis is picked: a short pin must not let
    // an axis along it through the test below.
    p = p.scale(1.0f / std::sqrt(p.dot(p)));
    const dgVector candidates[3] = {dgVector(1.0f, 0.0f, 0.0f, 0.0f), dgVector(0.0f, 1.0f, 0.0f, 0.0f),
                                    dgVector(0.0f, 0.0f, 1.0f, 0.0f)};
    dgVector second(candidates[2]);
    for (int32_t i = 0; i < 2; ++i) {
        if (std::fabs(p.dot(candidates[i])) <= 0.999f) {
            second = candidates[i];
            break;
        }
    }
    dgVector twistAxis(second.cross(p));
    twistAxis = twistAxis.scale(1.0f / std::sqrt(twistAxis.dot(twistAxis)));
    const float cone = std::fabs(coneAngle);
    const float twist = std::fabs(twistAngle);
    ball->setConeLimitFlag(cone > dgBallJoint::kDegree);
    ball->setTwistLimitFlag(twist > dgBallJoint::kDegree);
    ball->setSpareFlag(false);
    ball->setLimits(p, -cone, cone, twist, twistAxis);
}

void dgBallSetUserCallback(dgConstraint* joint, dgBallJointCallback callback) {
    if (dgBallJoint* ball = jointAs<dgBallJoint>(joint, dgJointTypeBall)) {
        ball->setUserCallback(callback);
    }
}

void dgBallGetJointAngle(const dgConstraint* joint, float* angle) {
    const dgBallJoint* ball = jointAs<dgBallJoint>(joint, dgJointTypeBall);
    ball ? store3(ball->getJointAngles(), angle) : zero3(angle);
}

void dgBallGetJointOmega(const dgConstraint* joint, float* omega) {
    const dgBallJoint* ball = jointAs<dgBallJoint>(joint, dgJointTypeBall);
    ball ? store3(ball->getJointOmega(), omega) : zero3(omega);
}

void dgBallGetJointForce(const dgConstraint* joint, float* force) {
    const dgBallJoint* ball = jointAs<dgBallJoint>(joint, dgJointTypeBall);
    ball ? store3(ball->getJointForce(), force) : zero3(force);
}

// ---- hinge ----

void dgHingeSetUserCallback(dgConstraint* joint, dgJointUserCallback callback) {
    if (dgHingeJoint* hinge = jointAs<dgHingeJoint>(joint, dgJointTypeHinge)) {
        hinge->m_userCallback = callback;
    }
}

float dgHingeGetJointAngle(const dgConstraint* joint) {
    const dgHingeJoint* hinge = jointAs<dgHingeJoint>(joint, dgJointTypeHinge);
    return hinge ? reading(hinge->m_angle) : 0.0f;
}

float dgHingeGetJointOmega(const dgConstraint* joint) {
    const dgHingeJoint* hinge = jointAs<dgHingeJoint>(joint, dgJointTypeHinge);
    return hinge ? reading(hinge->getJointOmega()) : 0.0f;
}

float dgHingeCalculateStopAlpha(const dgConstraint* joint, const dgJointUserDescriptor* desc, float angle) {
    return stop<dgHingeJoint>(joint, dgJointTypeHinge, desc,
                              [angle](const dgHingeJoint& j, const dgJointUserDescriptor& d) {
                                  return j.calculateStopAlpha(angle, d);
                              });
}

void dgHingeGetJointForce(const dgConstraint* joint, float* force) {
    const dgHingeJoint* hinge = jointAs<dgHingeJoint>(joint, dgJointTypeHinge);
    hinge ? store3(hinge->getJointForce(), force) : zero3(force);
}

// ---- slider ----

void dgSliderSetUserCallback(dgConstraint* joint, dgJointUserCallback callback) {
    if (dgSliderJoint* slider = jointAs<dgSliderJoint>(joint, dgJointTypeSlider)) {
        slider->m_userCallback = callback;
    }
}

float dgSliderGetJointPosition(const dgConstraint* joint) {
    const dgSliderJoint* slider = jointAs<dgSliderJoint>(joint, dgJointTypeSlider);
    return slider ? reading(slider->m_position) : 0.0f;
}

float dgSliderGetJointVelocity(const dgConstraint* joint) {
    const dgSliderJoint* slider = jointAs<dgSliderJoint>(joint, dgJointTypeSlider);
    return slider ? reading(slider->getJointVelocity()) : 0.0f;
}

float dgSliderCalculateStopAccel(const dgConstraint* joint, const dgJointUserDescriptor* desc,
                                 float position) {
    return stop<dgSliderJoint>(joint, dgJointTypeSlider, desc,
                               [position](const dgSliderJoint& j, const dgJointUserDescriptor& d) {
                                   return j.calculateStopAccel(position, d);
                               });
}

void dgSliderGetJointForce(const dgConstraint* joint, float* force) {
    const dgSliderJoint* slider = jointAs<dgSliderJoint>(joint, dgJointTypeSlider);
    slider ? store3(slider->getJointForce(), force) : zero3(force);
}

// ---- corkscrew ----

void dgCorkscrewSetUserCallback(dgConstraint* joint, dgJointUserCallback callback) {
    if (dgCorkscrewJoint* corkscrew = jointAs<dgCorkscrewJoint>(joint, dgJointTypeCorkscrew)) {
        corkscrew->setUserCallback(callback);
    }
}

float dgCorkscrewGetJointAngle(const dgConstraint* joint) {
    const dgCorkscrewJoint* corkscrew = jointAs<dgCorkscrewJoint>(joint, dgJointTypeCorkscrew);
    return corkscrew ? reading(corkscrew->getJointAngle()) : 0.0f;
}

float dgCorkscrewGetJointVelocity(const dgConstraint* joint) {
    const dgCorkscrewJoint* corkscrew = jointAs<dgCorkscrewJoint>(joint, dgJointTypeCorkscrew);
    return corkscrew ? reading(corkscrew->getJointVelocity()) : 0.0f;
}

float dgCorkscrewGetJointPosition(const dgConstraint* joint) {
    const dgCorkscrewJoint* corkscrew = jointAs<dgCorkscrewJoint>(joint, dgJointTypeCorkscrew);
    return corkscrew ? reading(corkscrew->getJointPosition()) : 0.0f;
}

float dgCorkscrewGetJointOmega(const dgConstraint* joint) {
    const dgCorkscrewJoint* corkscrew = jointAs<dgCorkscrewJoint>(joint, dgJointTypeCorkscrew);
    return corkscrew ? reading(corkscrew->getJointOmega()) : 0.0f;
}

float dgCorkscrewCalculateStopAccel(const dgConstraint* joint, const dgJointUserDescriptor* desc,
                                    float position) {
    return stop<dgCorkscrewJoint>(joint, dgJointTypeCorkscrew, desc,
                                  [position](const dgCorkscrewJoint& j, const dgJointUserDescriptor& d) {
                                      return j.calculateStopAccel(position, d);
                                  });
}

float dgCorkscrewCalculateStopAlpha(const dgConstraint* joint, const dgJointUserDescriptor* desc,
                                    float angle) {
    return stop<dgCorkscrewJoint>(joint, dgJointTypeCorkscrew, desc,
                                  [angle](const dgCorkscrewJoint& j, const dgJointUserDescriptor& d) {
                                      return j.calculateStopAlpha(angle, d);
                                  });
}

void dgCorkscrewGetJointForce(const dgConstraint* joint, float* force) {
    const dgCorkscrewJoint* corkscrew = jointAs<dgCorkscrewJoint>(joint, dgJointTypeCorkscrew);
    corkscrew ? store3(corkscrew->getJointForce(), force) : zero3(force);
}

// ---- universal ----

void dgUniversalSetUserCallback(dgConstraint* joint, dgJointUserCallback callback) {
    if (dgUniversalJoint* universal = jointAs<dgUniversalJoint>(joint, dgJointTypeUniversal)) {
        universal->setUserCallback(callback);
    }
}

float dgUniversalGetJointAngle0(const dgConstraint* joint) {
    const dgUniversalJoint* universal = jointAs<dgUniversalJoint>(joint, dgJointTypeUniversal);
    return universal ? reading(universal->getJointAngle0()) : 0.0f;
}

float dgUniversalGetJointAngle1(const dgConstraint* joint) {
    const dgUniversalJoint* universal = jointAs<dgUniversalJoint>(joint, dgJointTypeUniversal);
    return universal ? reading(universal->getJointAngle1()) : 0.0f;
}

float dgUniversalGetJointOmega0(const dgConstraint* joint) {
    const dgUniversalJoint* universal = jointAs<dgUniversalJoint>(joint, dgJointTypeUniversal);
    return universal ? reading(universal->getJointOmega0()) : 0.0f;
}

float dgUniversalGetJointOmega1(const dgConstraint* joint) {
    const dgUniversalJoint* universal = jointAs<dgUniversalJoint>(joint, dgJointTypeUniversal);
    return universal ? reading(universal->getJointOmega1()) : 0.0f;
}

float dgUniversalCalculateStopAlpha0(const dgConstraint* joint, const dgJointUserDescriptor* desc,
                                     float angle) {
    return stop<dgUniversalJoint>(joint, dgJointTypeUniversal, desc,
                                  [angle](const dgUniversalJoint& j, const dgJointUserDescriptor& d) {
                                      return j.calculateStopAlpha0(angle, d);
                                  });
}

float dgUniversalCalculateStopAlpha1(const dgConstraint* joint, const dgJointUserDescriptor* desc,
                                     float angle) {
    return stop<dgUniversalJoint>(joint, dgJointTypeUniversal, desc,
                                  [angle](const dgUniversalJoint& j, const dgJointUserDescriptor& d) {
                                      return j.calculateStopAlpha1(angle, d);
                                  });
}

void dgUniversalGetJointForce(const dgConstraint* joint, float* force) {
    const dgUniversalJoint* universal = jointAs<dgUniversalJoint>(joint, dgJointTypeUniversal);
    universal ? store3(universal->getJointForce(), force) : zero3(force);
}

// ---- up-vector ----

void dgUpVectorSetPin(dgConstraint* joint, const float* pin) {
    dgUpVectorJoint* up = jointAs<dgUpVectorJoint>(joint, dgJointTypeUpVector);
    if (up && usablePin(pin)) {
        up->setPin(axis3(pin));
    }
}

void dgUpVectorGetPin(const dgConstraint* joint, float* pin) {
    const dgUpVectorJoint* up = jointAs<dgUpVectorJoint>(joint, dgJointTypeUpVector);
    up ? store3(up->getPin(), pin) : zero3(pin);
}

// ---- user joint rows ----

namespace {

dgUserJoint* userJoint(dgConstraint* joint) {
    return jointAs<dgUserJoint>(joint, dgJointTypeDefault);
}

}  // namespace

void dgUserJointAddLinearRow(dgConstraint* joint, const float* pivot0, const float* pivot1,
                             const float* direction) {
    dgUserJoint* user = userJoint(joint);
    if (user && pivot0 && pivot1 && direction) {
        user->addLinearRow(point3(pivot0), point3(pivot1), axis3(direction));
    }
}

void dgUserJointAddAngularRow(dgConstraint* joint, float angle, const float* pin) {
    dgUserJoint* user = userJoint(joint);
    if (user && pin) {
        user->addAngularRow(angle, axis3(pin));
    }
}

void dgUserJointAddGeneralRow(dgConstraint* joint, const float* jacobian0, const float* jacobian1) {
    if (dgUserJoint* user = userJoint(joint)) {
        user->addGeneralRow(jacobian0, jacobian1);
    }
}

void dgUserJointSetRowAcceleration(dgConstraint* joint, float acceleration) {
    if (dgUserJoint* user = userJoint(joint)) {
        user->setRowAcceleration(acceleration);
    }
}

void dgUserJointSetRowSpringDamperAcceleration(dgConstraint* joint, float spring, float damper) {
    if (dgUserJoint* user = userJoint(joint)) {
        user->setRowSpringDamperAcceleration(spring, damper);
    }
}

void dgUserJointSetRowMinimumFriction(dgConstraint* joint, float value) {
    if (dgUserJoint* user = userJoint(joint)) {
        user->setRowMinimumFriction(value);
    }
}

void dgUserJointSetRowMaximumFriction(dgConstraint* joint, float value) {
    if (dgUserJoint* user = userJoint(joint)) {
        user->setRowMaximumFriction(value);
    }
}

void dgUserJointSetRowStiffness(dgConstraint* joint, float stiffness) {
    if (dgUserJoint* user = userJoint(joint)) {
        user->setRowStiffness(stiffness);
    }
}

float dgUserJointGetRowForce(const dgConstraint* joint, int32_t row) {
    const dgUserJoint* user = jointAs<dgUserJoint>(joint, dgJointTypeDefault);
    return user ? reading(user->getRowForce(row)) : 0.0f;
}

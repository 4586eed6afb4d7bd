// The vehicle joint: turns one body (the chassis) into a wheeled vehicle of
// up to 33 tires. Each tire is a record on the joint (dgVehicleTire) with its
// own mass, size, suspension, steering, drive torque and brake, and a tire
// shape (dgCollisionTire.h) fitted to the chassis's compound collision, so
// that the ordinary contact pipeline finds the tires' contacts with the
// ground. The joint takes those contacts out of the contact joints, solves
// chassis, suspensions, spins and tire-ground friction itself once per
// sub-step, and hands the result to the island solver as the chassis's force
// and torque: it writes no rows of its own.
//
// Joints come from the world's vehicle pool; a vehicle is entered in the
// world's vehicle set, which the island solver sub-steps at 179 Hz.
#pragma once

#include <cstdint>

#include "dgConstraint.h"
#include "dgMatrix.h"
#include "dgPhysics.h"
#include "dgQuaternion.h"
#include "dgRefList.h"
#include "dgVector.h"

class dgBody;
class dgCollisionTire;
class dgVehicleJoint;
class dgWorld;

// One tire. Fields marked "per sub-step" go back to their defaults before
// the tire callback of every sub-step; the callback sets them.
struct dgVehicleTire {
    // Pose in chassis space: the rest orientation turned by the steer angle
    // about up; its position is the steering pivot, as given.
    dgMatrix m_localMatrix;
    // The rest orientation of the matrix given at creation.
    dgQuaternion m_restOrientation;
    // Spin axis in the tire's own frame, unit length (w as given).
    dgVector m_pin;
    // Always zero: the engine keeps no pin velocity (read by the pin-speed
    // accessor).
    dgVector m_pinVelocity;
    // kg; metres; damper (N s/m) and spring (N/m), both per kilogram of the
    // suspension's effective mass (about the tire's); metres. All as absolute
    // values.
    float m_mass;
    float m_width;
    float m_radius;
    float m_shock;
    float m_spring;
    float m_length;
    uint32_t m_collisionId;
    void* m_userData;
    // Held by the chassis compound while the tire is fitted.
    dgCollisionTire* m_shape;
    dgVehicleJoint* m_vehicle;
    // 0.4 x mass x radius^2 (kg m^2), and the reciprocals.
    float m_inertia;
    float m_invMass;
    float m_invInertia;
    // Radians about up from the rest orientation.
    float m_steerAngle;
    // Per sub-step: the chassis's acceleration along up times the tire's
    // mass (N; negative under gravity).
    float m_weight;
    // Per sub-step: drive torque about the pin (N m).
    float m_torque;
    // The chassis's velocity along the tire's global pin and along pin x up
    // at the start of the sub-step (m/s).
    float m_lateralSpeed;
    float m_longitudinalSpeed;
    // Per sub-step: slip scale (stored as a quarter, at most 0.25) and slip
    // limit (m/s, at most 0.5) of the lateral (A) and longitudinal (B)
    // friction.
    float m_slipScaleA;
    float m_slipLimitA;
    float m_slipScaleB;
    float m_slipLimitB;
    // Per sub-step: spin deceleration the brake asks for (rad/s^2, opposing
    // the spin) and its torque limit (N m).
    float m_brakeAccel;
    float m_brakeLimit;
    // Along up from the pose (m), spin angle in [0, 6.28318) (rad), their
    // rates (m/s, rad/s).
    float m_suspensionPosition;
    float m_spinAngle;
    float m_suspensionSpeed;
    float m_spinRate;
    // The tire's body slot in the vehicle's solve.
    int32_t m_slot;
    // 1 when the last sub-step found no contact; 1 when the longitudinal
    // (B) or the lateral (A) friction slid past its slip limit.
    uint8_t m_airborne;
    uint8_t m_longitudinalSlip;
    uint8_t m_lateralSlip;
    // Solver memory between sub-steps: the sum of the last normal forces
    // (N) and the five axle rows' forces, the next solve's start.
    float m_lastNormalForce;
    float m_axleForces[5];
    // The tire's node in the vehicle's list.
    dgRefList<dgVehicleTire>::Node* m_node;
};

typedef dgRefList<dgVehicleTire> dgVehicleTireList;

class dgVehicleJoint : public dgConstraint {
public:
    static constexpr int32_t kMaxTires = 33;

    // In a slot of the world's vehicle pool: type dgJointTypeVehicle, no rows,
    // no tires, no callbacks.
    dgVehicleJoint();
    ~dgVehicleJoint() override;

    void setDestructorCallback(dgConstraintDestructorCallback callback) override;
    // Removes every tire, leaves the vehicle set and the work list, clears the
    // chassis compound's vehicle flag, calls the destructor callback and goes
    // back to the pool.
    void release() override;
    // The vehicle's sub-step (dgVehicleJoint.cpp: the rows of dgVehicleRows.cpp
    // solved by dgVehicleSolve.cpp); returns 0.
    int32_t submitRows(dgJointRowBlock& block) override;

    // Up = upWorld (unit) in chassis space; the chassis's collision becomes a
    // compound of the old one (or its children) with the vehicle flag. False
    // when the compound cannot be made (nothing changed then).
    bool setup(const dgVector& upWorld);
    // Null for the 34th tire or when memory runs out. Input as stored (the
    // flat interface has checked it).
    dgVehicleTire* addTire(const dgMatrix& matrix, const dgVector& pin, float mass, float width, float radius,
                           float shock, float spring, float length, uint32_t collisionId, void* userData);
    void removeTire(dgVehicleTire* tire);
    // Suspension positions, speeds, spin angles and spin rates to 0.
    void reset() override;
    void setSteerAngle(dgVehicleTire* tire, float angle);
    // The tire's pose in chassis space (spun, steered, suspension applied),
    // and in the world.
    dgMatrix tirePose(const dgVehicleTire* tire) const;
    dgMatrix tireMatrix(const dgVehicleTire* tire) const;
    // Takes this sub-step's tire contacts out of the chassis's contact joints
    // into the tire shapes.
    void gatherTireContacts();
    // Every tire shape to its pose, then the chassis's compound box unless
    // told that the chassis's integration will place it anyway.
    void refreshTirePoses(bool placeBox = true);
    // The spin deceleration that stops the tire within about one sub-step.
    float maxBrake(const dgVehicleTire* tire) const;
    // The start of a sub-step: every tire's per-sub-step fields back to
    // their defaults, its weight and side speeds measured, then the tire
    // callback.
    void beginSubStep(const dgVector& globalUp);

    // ---- fields, in record order (after the constraint's) ----

    // Unit, chassis space, w = 1.
    dgVector m_up;
    dgVehicleTireList m_tires;
    // The island solver's record of the sub-step running (null outside one).
    const dgJointRowBlock* m_stepRecord;
    dgVehicleTireCallback m_tireCallback;
    dgConstraintDestructorCallback m_destructor;
    // Reciprocal of the last sub-step (0 before the first).
    float m_invTimestep;
};

// Spin angle advanced by delta, kept within [0, 6.28318).
float dgVehicleWrapSpinAngle(float angle, float delta);
// Scale of the reactions the vehicle puts on a movable ground body: starting
// at 0.1 and shrunk by 0.9 while |linear|^2 x groundInvMass^2 x s^2 exceeds
// 2000 x chassisInvMass^2, at most 64 times (an immovable chassis would
// shrink it to nothing otherwise).
float dgVehicleReactionScale(float linear2, float groundInvMass, float chassisInvMass);

// A vehicle joint attached to chassis and set up (null when the pool, the
// attachment or the compound fails; nothing is left behind).
dgVehicleJoint* dgWorldCreateVehicle(dgWorld* world, const dgVector& upWorld, dgBody* chassis);
// The vehicle joint in the chassis's joint ring; null when none.
dgVehicleJoint* dgVehicleOfChassis(const dgBody* chassis);

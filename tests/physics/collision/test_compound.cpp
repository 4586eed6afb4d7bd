#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <random>
#include <vector>

#include "CountingHooks.h"
#include "ShapeTestUtils.h"
#include "dgBody.h"
#include "dgCollisionBox.h"
#include "dgCollisionConvexModifier.h"
#include "dgCollisionSphere.h"
#include "dgCompoundCollision.h"
#include "dgQuaternion.h"
#include "dgWorld.h"

namespace {

using namespace shapetest;

typedef dgRefHolder<dgCollision> ShapeHolder;
typedef dgRefHolder<dgCompoundCollision> CompoundHolder;

ShapeHolder makeBox(float dx, float dy, float dz, const dgMatrix& offset = dgGetIdentityMatrix()) {
    const float dims[3] = {std::fabs(dx) * 0.5f, std::fabs(dy) * 0.5f, std::fabs(dz) * 0.5f};
    return ShapeHolder::adopt(
        new dgCollisionBox(dgShapeSignature(dgShapeBox, dims, 3, offset), dx, dy, dz, offset));
}

ShapeHolder makeSphere(float radius, const dgMatrix& offset = dgGetIdentityMatrix()) {
    return ShapeHolder::adopt(
        new dgCollisionSphere(dgShapeSignature(dgShapeSphere, &radius, 1, offset), radius, offset));
}

CompoundHolder makeCompound(const std::vector<dgCollision*>& children, dgWorld* world = nullptr) {
    return CompoundHolder::adopt(new dgCompoundCollision(
        int32_t(children.size()), children.empty() ? nullptr : children.data(), world));
}

// One box child of a reference model: full sizes and its rigid placement.
struct BoxChild {
    dgVector size;
    dgMatrix offset;
};

// Entry parameter of the segment into a box in its own frame (double
// precision slab test), with the outward axis and sign; -1 for a miss or a
// start inside.
double slabEntry(const dgVector& half, const double p0[3], const double p1[3], int32_t& axis, double& sign) {
    double tEnter = 0.0;
    double tExit = 1.0;
    axis = -1;
    for (int32_t i = 0; i < 3; i++) {
        const double h = half[i];
        const double d = p1[i] - p0[i];
        if (d == 0.0) {
            if (std::fabs(p0[i]) > h) {
                return -1.0;
            }
            continue;
        }
        double t0 = (-h - p0[i]) / d;
        double t1 = (h - p0[i]) / d;
        double s = -1.0;
        if (t0 > t1) {
            std::swap(t0, t1);
            s = 1.0;
        }
        if (t0 > tEnter) {
            tEnter = t0;
            axis = i;
            sign = s;
        }
        tExit = std::min(tExit, t1);
    }
    if ((axis < 0) || (tEnter > tExit)) {
        return -1.0;
    }
    return tEnter;
}

// World point p taken into the rigid frame m, in double.
void intoFrame(const dgMatrix& m, const dgVector& p, double out[3]) {
    const double d[3] = {double(p.x) - m.position.x, double(p.y) - m.position.y, double(p.z) - m.position.z};
    for (int32_t i = 0; i < 3; i++) {
        out[i] = d[0] * m[i].x + d[1] * m[i].y + d[2] * m[i].z;
    }
}

uint32_t countAndVeto(const dgBody*, const dgCollision* shape, void* userData) {
    std::vector<const dgCollision*>* seen = static_cast<std::vector<const dgCollision*>*>(userData);
    seen->push_back(shape);
    return 0;
}

struct WalkRecord {
    std::vector<const dgCollision*> owners;
    int32_t faces = 0;
};

void recordOwner(const dgBody* body, int32_t, const float*, int32_t) {
    WalkRecord* record = static_cast<WalkRecord*>(body->m_userData);
    record->owners.push_back(body->m_collision);
    record->faces++;
}

// A plane y = level for the submerged volume.
int32_t horizontalPlane(uint32_t, void* context, const dgMatrix&, dgPlane& plane) {
    plane = dgPlane(0.0f, 1.0f, 0.0f, -*static_cast<const float*>(context));
    return 1;
}

}  // namespace

TEST(Compound, KeepsNoUserIdAndCarriesTheVehicleFlag) {
    ShapeHolder box = makeBox(1.0f, 1.0f, 1.0f);
    std::vector<dgCollision*> children = {box.get()};
    CompoundHolder compound = makeCompound(children);
    EXPECT_EQ(compound->getUserId(), 0u);
    compound->setUserId(7u);
    EXPECT_EQ(compound->getUserId(), 0u);
    EXPECT_EQ(dgCompoundCollision::kSlotBytes,
              sizeof(dgMatrix) + 2 * sizeof(dgVector) + sizeof(dgCollision*));
    // The vehicle marks its chassis compound.
    compound->setFlagBits(dgShapeFlagVehicle);
    EXPECT_NE(compound->getFlags() & dgShapeFlagVehicle, 0u);
    compound->clearFlagBits(dgShapeFlagVehicle);
    EXPECT_EQ(compound->getFlags() & dgShapeFlagVehicle, 0u);
}

TEST(Compound, BoundsAreTheUnionOfTheChildrenAndTheOrigin) {
    std::mt19937 rng(11);
    for (int32_t trial = 0; trial < 50; trial++) {
        ShapeHolder a = makeBox(1.0f, 2.0f, 0.5f, randomPose(rng, 4.0f));
        ShapeHolder b = makeSphere(0.7f, translation(3.0f, -1.0f, 2.0f));
        ShapeHolder c = makeBox(0.3f, 0.3f, 3.0f, randomPose(rng, 4.0f));
        std::vector<dgCollision*> children = {a.get(), b.get(), c.get()};
        CompoundHolder compound = makeCompound(children);
        const dgMatrix matrix(randomPose(rng, 20.0f));
        dgVector boxMin, boxMax;
        compound->calcAABB(matrix, boxMin, boxMax);

        dgVector low(matrix.position), high(matrix.position);
        for (int32_t i = 0; i < 3; i++) {
            const dgMatrix childMatrix(children[i]->getOffsetMatrix().multiply(matrix));
            dgVector cMin, cMax;
            children[i]->calcAABB(childMatrix, cMin, cMax);
            for (int32_t j = 0; j < 3; j++) {
                low[j] = std::min(low[j], cMin[j]);
                high[j] = std::max(high[j], cMax[j]);
                EXPECT_EQ(compound->getChildBoxMin(i)[j], cMin[j]);
                EXPECT_EQ(compound->getChildBoxMax(i)[j], cMax[j]);
            }
            for (int32_t r = 0; r < 4; r++) {
                for (int32_t k = 0; k < 4; k++) {
                    EXPECT_EQ(compound->getChildMatrix(i)[r][k], childMatrix[r][k]);
                }
            }
        }
        for (int32_t j = 0; j < 3; j++) {
            EXPECT_EQ(boxMin[j], low[j]);
            EXPECT_EQ(boxMax[j], high[j]);
        }
        EXPECT_EQ(boxMin.w, matrix.position.w);
        EXPECT_EQ(boxMax.w, matrix.position.w);
    }
}

TEST(Compound, BoundsReachTheOriginWhenAllChildrenLieToOneSide) {
    ShapeHolder a = makeBox(1.0f, 1.0f, 1.0f, translation(10.0f, 0.0f, 0.0f));
    ShapeHolder b = makeBox(1.0f, 1.0f, 1.0f, translation(12.0f, 0.0f, 0.0f));
    CompoundHolder compound = makeCompound({a.get(), b.get()});
    dgVector boxMin, boxMax;
    compound->calcAABB(translation(5.0f, 0.0f, 0.0f), boxMin, boxMax);
    EXPECT_FLOAT_EQ(boxMin.x, 5.0f);
    EXPECT_FLOAT_EQ(boxMax.x, 17.5f);

    CompoundHolder empty = makeCompound({});
    empty->calcAABB(translation(1.0f, 2.0f, 3.0f), boxMin, boxMax);
    EXPECT_EQ(boxMin.x, 1.0f);
    EXPECT_EQ(boxMax.y, 2.0f);
    EXPECT_EQ(boxMax.z, 3.0f);
}

TEST(Compound, SlotsDescribeTheCompoundAtTheOriginBeforeTheFirstBounds) {
    ShapeHolder a = makeBox(2.0f, 2.0f, 2.0f, translation(3.0f, 0.0f, 0.0f));
    CompoundHolder compound = makeCompound({a.get()});
    EXPECT_EQ(compound->getChildMatrix(0).position.x, 3.0f);
    EXPECT_FLOAT_EQ(compound->getChildBoxMin(0).x, 2.0f);
    EXPECT_FLOAT_EQ(compound->getChildBoxMax(0).x, 4.0f);
}

TEST(Compound, RayCastFindsTheNearestChildWithItsNormalInCompoundSpace) {
    std::mt19937 rng(5);
    std::uniform_real_distribution<float> u(-1.0f, 1.0f);
    const BoxChild model[3] = {
        {dgVector(1.0f, 2.0f, 1.5f, 0.0f), randomPose(rng, 2.0f)},
        {dgVector(0.5f, 0.5f, 3.0f, 0.0f), randomPose(rng, 2.0f)},
        {dgVector(2.0f, 0.4f, 0.8f, 0.0f), randomPose(rng, 2.0f)},
    };
    std::vector<ShapeHolder> holders;
    std::vector<dgCollision*> children;
    for (const BoxChild& child : model) {
        holders.push_back(makeBox(child.size.x, child.size.y, child.size.z, child.offset));
        children.push_back(holders.back().get());
    }
    CompoundHolder compound = makeCompound(children);

    int32_t hits = 0;
    int32_t compared = 0;
    for (int32_t trial = 0; trial < 3000; trial++) {
        const dgVector p0(u(rng) * 8.0f, u(rng) * 8.0f, u(rng) * 8.0f, 1.0f);
        const dgVector target(u(rng) * 2.5f, u(rng) * 2.5f, u(rng) * 2.5f, 1.0f);
        const dgVector p1(p0 + (target - p0).scale(1.3f));
        double best = 2.0;
        dgVector bestNormal(0.0f, 0.0f, 0.0f, 0.0f);
        bool inside = false;
        double secondBest = 2.0;
        for (const BoxChild& child : model) {
            double a[3], b[3];
            intoFrame(child.offset, p0, a);
            intoFrame(child.offset, p1, b);
            const dgVector half(child.size.scale(0.5f));
            bool in = true;
            for (int32_t i = 0; i < 3; i++) {
                in = in && (std::fabs(a[i]) <= half[i]);
            }
            inside = inside || in;
            int32_t axis;
            double sign = 0.0;
            const double t = slabEntry(half, a, b, axis, sign);
            if (t < 0.0) {
                continue;
            }
            if (t < best) {
                secondBest = best;
                best = t;
                dgVector local(0.0f, 0.0f, 0.0f, 0.0f);
                local[axis] = float(sign);
                bestNormal = child.offset.rotateVector(local);
            } else {
                secondBest = std::min(secondBest, t);
            }
        }
        // Starting inside a child, or two children entered at almost the same
        // parameter, leaves which answer is right to rounding.
        if (inside || ((best <= 1.0) && (secondBest - best < 1.0e-4))) {
            continue;
        }
        dgContactPoint contact;
        std::memset(static_cast<void*>(&contact), 0, sizeof(contact));
        const float t = compound->rayCast(p0, p1, contact, nullptr, nullptr, nullptr);
        compared++;
        if (best > 1.0) {
            EXPECT_GT(t, 1.0f);
            continue;
        }
        hits++;
        ASSERT_LE(t, 1.0f);
        EXPECT_NEAR(t, best, 1.0e-4);
        EXPECT_NEAR(contact.normal.x, bestNormal.x, 1.0e-4f);
        EXPECT_NEAR(contact.normal.y, bestNormal.y, 1.0e-4f);
        EXPECT_NEAR(contact.normal.z, bestNormal.z, 1.0e-4f);
    }
    EXPECT_GT(hits, 300);
    EXPECT_GT(compared, 2000);
}

TEST(Compound, MissLeavesTheRecordAloneAndThePrefilterIsAskedPerChild) {
    ShapeHolder a = makeBox(1.0f, 1.0f, 1.0f);
    ShapeHolder b = makeBox(1.0f, 1.0f, 1.0f, translation(3.0f, 0.0f, 0.0f));
    CompoundHolder compound = makeCompound({a.get(), b.get()});
    dgContactPoint contact;
    std::memset(static_cast<void*>(&contact), 0x5A, sizeof(contact));
    dgContactPoint before;
    std::memcpy(static_cast<void*>(&before), &contact, sizeof(contact));
    const dgVector p0(0.0f, 5.0f, 0.0f, 1.0f);
    const dgVector p1(3.0f, 5.0f, 0.0f, 1.0f);
    EXPECT_EQ(compound->rayCast(p0, p1, contact, nullptr, nullptr, nullptr), dgCollision::kRayMiss);
    EXPECT_EQ(std::memcmp(&contact, &before, sizeof(contact)), 0);

    std::vector<const dgCollision*> seen;
    const dgVector q0(-5.0f, 0.0f, 0.0f, 1.0f);
    const dgVector q1(5.0f, 0.0f, 0.0f, 1.0f);
    EXPECT_EQ(compound->rayCast(q0, q1, contact, countAndVeto, nullptr, &seen), dgCollision::kRayMiss);
    ASSERT_EQ(seen.size(), 2u);
    EXPECT_EQ(seen[0], compound.get());
    EXPECT_EQ(seen[1], compound.get());

    // Without the veto the nearer child answers.
    const float t = compound->rayCast(q0, q1, contact, nullptr, nullptr, nullptr);
    EXPECT_NEAR(t, 0.45f, 1.0e-6f);
    EXPECT_NEAR(contact.normal.x, -1.0f, 1.0e-6f);

    CompoundHolder empty = makeCompound({});
    EXPECT_EQ(empty->rayCast(q0, q1, contact, nullptr, nullptr, nullptr), dgCollision::kRayMiss);
}

TEST(Compound, VolumeIsThePlainSumOfTheChildren) {
    ShapeHolder a = makeBox(1.0f, 2.0f, 3.0f);
    ShapeHolder b = makeBox(1.0f, 1.0f, 1.0f, translation(0.25f, 0.0f, 0.0f));
    ShapeHolder c = makeSphere(0.5f, translation(4.0f, 0.0f, 0.0f));
    CompoundHolder compound = makeCompound({a.get(), b.get(), c.get()});
    EXPECT_FLOAT_EQ(compound->getVolume(), a->getVolume() + b->getVolume() + c->getVolume());
    EXPECT_NEAR(compound->getVolume(), 7.0f + c->getVolume(), 1.0e-4f);
}

// Random turned boxes and a sphere: the centre is the children's centres
// weighted by their volumes, and the inertia their own carried over by the
// parallel-axis theorem.
TEST(Compound, InertiaCombinesTheChildrensOwnMassProperties) {
    std::mt19937 rng(21);
    for (int32_t trial = 0; trial < 20; trial++) {
        ShapeHolder a = makeBox(1.0f, 2.0f, 0.5f, randomPose(rng, 3.0f));
        ShapeHolder b = makeBox(0.4f, 1.5f, 2.5f, randomPose(rng, 3.0f));
        ShapeHolder c = makeSphere(0.8f, translation(-2.0f, 0.5f, 0.0f));
        std::vector<dgCollision*> children = {a.get(), b.get(), c.get()};
        CompoundHolder compound = makeCompound(children);
        dgVector inertia(0.0f, 0.0f, 0.0f, 0.0f), origin(0.0f, 0.0f, 0.0f, 0.0f);
        compound->calcInertia(inertia, origin);
        double volume = 0.0;
        double centre[3] = {0.0, 0.0, 0.0};
        std::vector<dgVector> inertias(3), origins(3);
        std::vector<double> volumes(3);
        for (int32_t i = 0; i < 3; i++) {
            children[i]->calcInertia(inertias[i], origins[i]);
            volumes[i] = children[i]->getVolume();
            volume += volumes[i];
            for (int32_t j = 0; j < 3; j++) {
                centre[j] += volumes[i] * origins[i][j];
            }
        }
        for (int32_t j = 0; j < 3; j++) {
            centre[j] /= volume;
            EXPECT_NEAR(origin[j], centre[j], 1.0e-4);
        }
        for (int32_t j = 0; j < 3; j++) {
            double sum = 0.0;
            for (int32_t i = 0; i < 3; i++) {
                double d2 = 0.0;
                for (int32_t k = 0; k < 3; k++) {
                    if (k != j) {
                        const double d = origins[i][k] - centre[k];
                        d2 += d * d;
                    }
                }
                sum += volumes[i] * (inertias[i][j] + d2);
            }
            EXPECT_NEAR(inertia[j], sum / volume, 1.0e-3 * (1.0 + sum / volume));
        }
    }
}

TEST(Compound, SubmergedVolumeWeighsTheChildrenPlacedByTheMatrixGiven) {
    ShapeHolder a = makeBox(2.0f, 2.0f, 2.0f, translation(-3.0f, 0.0f, 0.0f));
    ShapeHolder b = makeBox(1.0f, 4.0f, 1.0f, translation(3.0f, 0.0f, 0.0f));
    CompoundHolder compound = makeCompound({a.get(), b.get()});
    const dgMatrix matrix(translation(0.0f, 1.0f, 0.0f));
    // Slots refreshed at another pose: the matrix given decides.
    dgVector boxMin, boxMax;
    compound->calcAABB(translation(50.0f, 50.0f, 50.0f), boxMin, boxMax);

    // Without a plane everything is submerged.
    const dgVector whole(compound->calcSubmergedVolume(matrix, nullptr, nullptr));
    EXPECT_NEAR(whole.w, 12.0f, 1.0e-4f);
    EXPECT_NEAR(whole.x, (8.0f * -3.0f + 4.0f * 3.0f) / 12.0f, 1.0e-4f);
    EXPECT_NEAR(whole.y, 1.0f, 1.0e-4f);

    // Plane y = 1.5 in world: box a spans y 0..2 (1.5 below), box b -1..3
    // (2.5 below).
    float level = 1.5f;
    const dgVector part(compound->calcSubmergedVolume(matrix, horizontalPlane, &level));
    const double va = 4.0 * 1.5, vb = 1.0 * 2.5;
    EXPECT_NEAR(part.w, va + vb, 1.0e-4);
    EXPECT_NEAR(part.x, (va * -3.0 + vb * 3.0) / (va + vb + 1.0e-6), 1.0e-4);
    EXPECT_NEAR(part.y, (va * 0.75 + vb * 0.25) / (va + vb + 1.0e-6), 1.0e-4);

    CompoundHolder empty = makeCompound({});
    const dgVector none(empty->calcSubmergedVolume(matrix, horizontalPlane, &level));
    EXPECT_EQ(none.x, 0.0f);
    EXPECT_EQ(none.w, 0.0f);
}

TEST(Compound, PolygonWalkNamesTheOwningChildAndRestoresTheBody) {
    ShapeHolder a = makeBox(1.0f, 1.0f, 1.0f);
    ShapeHolder b = makeBox(1.0f, 1.0f, 1.0f, translation(2.0f, 0.0f, 0.0f));
    CompoundHolder compound = makeCompound({a.get(), b.get()});
    WalkRecord record;
    dgBody body;
    body.clear();
    body.m_matrix = dgGetIdentityMatrix();
    body.m_userData = &record;
    body.m_collision = compound.get();
    compound->forEachPolygon(&body, recordOwner);
    EXPECT_EQ(body.m_collision, compound.get());
    ASSERT_EQ(record.faces, 12);
    for (int32_t i = 0; i < 6; i++) {
        EXPECT_EQ(record.owners[i], a.get());
        EXPECT_EQ(record.owners[6 + i], b.get());
    }
}

TEST(Compound, AddAndRemoveKeepSlotsAndReferences) {
    ShapeHolder a = makeBox(1.0f, 1.0f, 1.0f, translation(1.0f, 0.0f, 0.0f));
    ShapeHolder b = makeBox(1.0f, 1.0f, 1.0f, translation(2.0f, 0.0f, 0.0f));
    ShapeHolder c = makeBox(1.0f, 1.0f, 1.0f, translation(3.0f, 0.0f, 0.0f));
    ShapeHolder stranger = makeSphere(1.0f);
    CompoundHolder compound = makeCompound({a.get(), b.get(), c.get()});
    EXPECT_EQ(a->getRefCount(), 2);
    dgVector boxMin, boxMax;
    compound->calcAABB(translation(0.0f, 10.0f, 0.0f), boxMin, boxMax);
    const dgMatrix matrixC(compound->getChildMatrix(2));
    const dgVector minC(compound->getChildBoxMin(2));

    EXPECT_FALSE(compound->removeChild(stranger.get()));
    EXPECT_EQ(compound->getChildCount(), 3);
    EXPECT_TRUE(compound->removeChild(a.get()));
    EXPECT_EQ(a->getRefCount(), 1);
    ASSERT_EQ(compound->getChildCount(), 2);
    EXPECT_EQ(compound->getChild(0), c.get());
    EXPECT_EQ(compound->getChild(1), b.get());
    EXPECT_EQ(std::memcmp(&compound->getChildMatrix(0), &matrixC, sizeof(dgMatrix)), 0);
    EXPECT_EQ(std::memcmp(&compound->getChildBoxMin(0), &minC, sizeof(dgVector)), 0);
    EXPECT_EQ(compound->getCapacity(), 3);

    EXPECT_TRUE(compound->addChild(stranger.get()));
    EXPECT_EQ(stranger->getRefCount(), 2);
    EXPECT_EQ(compound->getChildCount(), 3);
    EXPECT_TRUE(compound->addChild(a.get()));
    EXPECT_EQ(compound->getCapacity(), 6);
    EXPECT_EQ(compound->getChild(3), a.get());
    // The slots survived the move to the bigger block.
    EXPECT_EQ(std::memcmp(&compound->getChildMatrix(0), &matrixC, sizeof(dgMatrix)), 0);
    EXPECT_FALSE(compound->addChild(nullptr));
    EXPECT_FALSE(compound->addChild(compound.get()));
    EXPECT_EQ(compound->getChildCount(), 4);

    compound.reset();
    EXPECT_EQ(a->getRefCount(), 1);
    EXPECT_EQ(b->getRefCount(), 1);
    EXPECT_EQ(c->getRefCount(), 1);
    EXPECT_EQ(stranger->getRefCount(), 1);
}

TEST(Compound, AnEmptyCompoundGrowsFromNothing) {
    ShapeHolder box = makeBox(1.0f, 1.0f, 1.0f);
    CompoundHolder compound = makeCompound({});
    EXPECT_EQ(compound->getCapacity(), 0);
    EXPECT_TRUE(compound->addChild(box.get()));
    EXPECT_EQ(compound->getChildCount(), 1);
    EXPECT_GE(compound->getCapacity(), 1);
    EXPECT_TRUE(compound->removeChild(box.get()));
    EXPECT_EQ(compound->getChildCount(), 0);
    EXPECT_EQ(box->getRefCount(), 1);
}

TEST(Compound, ThousandsOfChildrenStayConsistent) {
    // Far beyond any fixed table the contact pipeline keeps per pair.
    constexpr int32_t kChildren = 5000;
    ShapeHolder box = makeBox(0.5f, 0.5f, 0.5f);
    std::vector<ShapeHolder> placed;
    std::vector<dgCollision*> initial;
    for (int32_t i = 0; i < 2000; i++) {
        placed.push_back(makeBox(0.5f, 0.5f, 0.5f, translation(float(i), 0.0f, 0.0f)));
        initial.push_back(placed.back().get());
    }
    CompoundHolder compound = makeCompound(initial);
    for (int32_t i = 2000; i < kChildren; i++) {
        ASSERT_TRUE(compound->addChild(box.get()));
    }
    EXPECT_EQ(compound->getChildCount(), kChildren);
    EXPECT_EQ(box->getRefCount(), 1 + kChildren - 2000);
    dgVector boxMin, boxMax;
    compound->calcAABB(dgGetIdentityMatrix(), boxMin, boxMax);
    EXPECT_FLOAT_EQ(boxMin.x, -0.25f);
    EXPECT_FLOAT_EQ(boxMax.x, 1999.25f);
    EXPECT_NEAR(compound->getVolume(), 0.125f * kChildren, 0.01f);
    dgContactPoint contact;
    const float t =
        compound->rayCast(dgVector(1500.5f, 5.0f, 0.0f, 1.0f), dgVector(1500.5f, -5.0f, 0.0f, 1.0f), contact,
                          nullptr, nullptr, nullptr);
    EXPECT_GT(t, 1.0f);
    const float t2 =
        compound->rayCast(dgVector(1500.0f, 5.0f, 0.0f, 1.0f), dgVector(1500.0f, -5.0f, 0.0f, 1.0f), contact,
                          nullptr, nullptr, nullptr);
    EXPECT_NEAR(t2, 0.475f, 1.0e-5f);
    compound.reset();
    EXPECT_EQ(box->getRefCount(), 1);
    EXPECT_EQ(placed[0]->getRefCount(), 1);
}

TEST(Compound, GrowthThatCannotBeAllocatedIsRefusedCleanly) {
    ShapeHolder box = makeBox(1.0f, 1.0f, 1.0f);
    CompoundHolder compound = makeCompound({box.get()});
    {
        CountingHooks hooks(false);
        hooks.failAfter(0);
        EXPECT_FALSE(compound->addChild(box.get()));
        hooks.failAfter(-1);
    }
    EXPECT_EQ(compound->getChildCount(), 1);
    EXPECT_EQ(compound->getCapacity(), 1);
    EXPECT_EQ(box->getRefCount(), 2);
    {
        // A flushed block cache: the object's block is the one allocation that
        // succeeds, the slot block fails.
        CountingHooks hooks;
        hooks.failAfter(1);
        std::vector<dgCollision*> children(3, box.get());
        dgCompoundCollision* starved = new dgCompoundCollision(3, children.data(), nullptr);
        ASSERT_NE(starved, nullptr);
        EXPECT_EQ(starved->getChildCount(), 0);
        EXPECT_EQ(box->getRefCount(), 2);
        hooks.failAfter(-1);
        starved->release();
    }
    EXPECT_EQ(box->getRefCount(), 2);
}

TEST(Compound, ChildrenAreReleasedThroughTheWorld) {
    HookGuard guard;
    dgWorld* world = dgWorldCreate(nullptr, nullptr);
    ASSERT_NE(world, nullptr);
    ShapeHolder a = makeBox(1.0f, 1.0f, 1.0f);
    ShapeHolder b = makeSphere(1.0f);
    dgCollision* children[2] = {a.get(), b.get()};
    dgCompoundCollision* compound = new dgCompoundCollision(2, children, world);
    EXPECT_EQ(compound->getWorld(), world);
    EXPECT_EQ(a->getRefCount(), 2);
    EXPECT_TRUE(compound->removeChild(b.get()));
    EXPECT_EQ(b->getRefCount(), 1);
    dgWorldReleaseCollision(world, compound);
    EXPECT_EQ(a->getRefCount(), 1);
    dgWorldDestroy(world);
}

TEST(Compound, ContinuousBodyWidensEachChildBoxAlongTheMotion) {
    ShapeHolder a = makeBox(1.0f, 1.0f, 1.0f);
    ShapeHolder b = makeBox(2.0f, 1.0f, 1.0f, translation(0.0f, 3.0f, 0.0f));
    CompoundHolder compound = makeCompound({a.get(), b.get()});
    dgBody body;
    body.clear();
    body.m_matrix = dgGetIdentityMatrix();
    body.m_collision = compound.get();
    body.m_flags = dgBodyFlagContinuous;
    body.m_veloc = dgVector(10.0f, 0.0f, -1.0f, 0.0f);
    dgBodyUpdateCollisionMatrix(&body, 0.1f);
    // Step (1, 0, -0.1): each child box grows by the part beyond 0.45 of its
    // own extent, the body's box by the part beyond 0.3 of its extent.
    EXPECT_FLOAT_EQ(compound->getChildBoxMax(0).x, 0.5f + (1.0f - 0.45f));
    EXPECT_FLOAT_EQ(compound->getChildBoxMin(0).x, -0.5f);
    EXPECT_FLOAT_EQ(compound->getChildBoxMax(1).x, 1.0f + (1.0f - 0.9f));
    EXPECT_FLOAT_EQ(compound->getChildBoxMin(0).z, -0.5f);
    EXPECT_FLOAT_EQ(body.m_maxAABB.x, 1.0f + (1.0f - 0.6f));
    EXPECT_FLOAT_EQ(body.m_minAABB.z, -0.5f);
}

// A child that holds the compound, directly or through any depth of nested
// compounds, would close a loop: refused, and everything is freed afterwards.
class CompoundLoop : public ::testing::TestWithParam<int32_t> {};

TEST_P(CompoundLoop, ChildHoldingTheCompoundIsRefusedAndAllIsFreed) {
    const int32_t depth = GetParam();
    {
        // Warm the block cache sizes used below before counting.
        ShapeHolder box = makeBox(1.0f, 1.0f, 1.0f);
        CompoundHolder warm = makeCompound({box.get()});
    }
    MemoryBalance balance;
    {
        ShapeHolder box = makeBox(1.0f, 1.0f, 1.0f);
        CompoundHolder root = makeCompound({box.get()});
        // outer holds ... holds root, depth compounds deep.
        std::vector<CompoundHolder> chain;
        dgCollision* inner = root.get();
        for (int32_t i = 0; i < depth; i++) {
            chain.push_back(makeCompound({inner}));
            inner = chain.back().get();
        }
        const int32_t refs = inner->getRefCount();
        EXPECT_FALSE(root->addChild(inner));
        EXPECT_FALSE(root->addChild(root.get()));
        EXPECT_EQ(root->getChildCount(), 1);
        EXPECT_EQ(inner->getRefCount(), refs);
        // The queries that would recurse without end still answer.
        EXPECT_NEAR(inner->getVolume(), 1.0f, 1e-4f);
        dgVector boxMin, boxMax;
        inner->calcAABB(dgGetIdentityMatrix(), boxMin, boxMax);
        EXPECT_FLOAT_EQ(boxMax.x, 0.5f);
        // A compound that merely shares a child is no loop.
        CompoundHolder other = makeCompound({box.get()});
        EXPECT_TRUE(other->addChild(inner));
        EXPECT_TRUE(root->addChild(other->getChild(0)));
    }
}

INSTANTIATE_TEST_SUITE_P(Depths, CompoundLoop, ::testing::Values(1, 2, 3, 50));

namespace {

// Faces of a walk, with the shape the body named for each.
struct PlacedFaces {
    std::vector<dgVector> points;
    std::vector<const dgCollision*> owners;
};

void collectPlaced(const dgBody* body, int32_t count, const float* v, int32_t) {
    PlacedFaces* out = static_cast<PlacedFaces*>(body->m_userData);
    for (int32_t i = 0; i < count; i++) {
        out->points.push_back(dgVector(v[3 * i], v[3 * i + 1], v[3 * i + 2], 1.0f));
        out->owners.push_back(body->m_collision);
    }
}

PlacedFaces walkPlaced(const dgCollision* shape, const dgMatrix& placement) {
    PlacedFaces faces;
    dgBody body(placedBody(placement));
    body.m_userData = &faces;
    body.m_collision = const_cast<dgCollision*>(shape);
    dgBody before;
    std::memcpy(static_cast<void*>(&before), &body, sizeof(dgBody));
    shape->forEachPolygon(&body, collectPlaced);
    // The walk lends the body each owner in turn and leaves it as it was.
    EXPECT_EQ(std::memcmp(static_cast<const void*>(&before), &body, sizeof(dgBody)), 0);
    return faces;
}

}  // namespace

// Shapes whose walks reach into the body: a plain convex, a compound, a
// compound nested in a compound, a modifier, and a compound holding a
// modifier.
class BodyPlacedWalk : public ::testing::TestWithParam<int32_t> {};

TEST_P(BodyPlacedWalk, FacesArePlacedByTheBodysMatrix) {
    ShapeHolder box = makeBox(1.0f, 2.0f, 3.0f, translation(1.0f, 0.0f, 0.0f));
    ShapeHolder sphere = makeSphere(0.5f, translation(0.0f, -2.0f, 0.0f));
    CompoundHolder compound = makeCompound({box.get(), sphere.get()});
    CompoundHolder nested = makeCompound({compound.get(), box.get()});
    dgCollisionConvexModifier* modifier =
        new dgCollisionConvexModifier(static_cast<dgConvexCollision*>(box.get()), nullptr);
    dgMatrix stretch(dgGetIdentityMatrix());
    stretch.front.x = 2.0f;
    modifier->setModifierMatrix(stretch);
    ShapeHolder modified = ShapeHolder::adopt(modifier);
    CompoundHolder withModifier = makeCompound({modified.get(), sphere.get()});
    const dgCollision* shapes[] = {box.get(), compound.get(), nested.get(), modified.get(),
                                   withModifier.get()};
    const dgCollision* shape = shapes[GetParam()];

    const PlacedFaces atOrigin(walkPlaced(shape, dgGetIdentityMatrix()));
    ASSERT_GT(atOrigin.points.size(), size_t(0));
    std::mt19937 rng(uint32_t(GetParam()) + 7u);
    for (int32_t n = 0; n < 20; n++) {
        const dgMatrix pose(randomPose(rng, 50.0f));
        const PlacedFaces placed(walkPlaced(shape, pose));
        ASSERT_EQ(placed.points.size(), atOrigin.points.size());
        EXPECT_EQ(placed.owners, atOrigin.owners);
        for (size_t i = 0; i < placed.points.size(); i++) {
            const dgVector expected(pose.transformVector(atOrigin.points[i]));
            for (int32_t j = 0; j < 3; j++) {
                ASSERT_NEAR(placed.points[i][j], expected[j], 1e-3f) << i;
            }
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Shapes, BodyPlacedWalk, ::testing::Range(0, 5));

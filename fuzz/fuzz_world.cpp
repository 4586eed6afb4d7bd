// Fuzzes the world through the public header alone: random scenes of every
// shape kind the header makes, bodies with masses, poses and callbacks,
// material groups with contact callbacks, joints of every type (with their
// user callbacks driving rows), body hierarchies and vehicles with tires,
// stepped for a bounded number of sub-steps, with walks, ray casts and shape
// queries in between. Every callback (the joints', the tires' and the
// hierarchies' among them) may be armed to act on the world while it runs
// (destroy or create bodies, joints, hierarchies and shapes, swap a body's
// shape, set values, start a nested walk, try what an update refuses).
//
// Checked for every input:
// - no crash, sanitizer error or leak;
// - every body and every joint gets its destructor callback once and every
//   user mesh its destroy callback once, by the time the world is destroyed
//   (with whatever is still alive in it);
// - the engine's live blocks and bytes, counted through the allocation hooks
//   and with the block cache flushed, come back to what they were before the
//   scene once its world is destroyed (checked on the second run, after the
//   first has made the pools that live to program exit). The flush
//   (dgMemoryCacheFlush) is the one call outside the public header: the
//   cache keeps released blocks by design, and only the measurement needs
//   them back;
// - the scene run twice gives bit for bit the same body states, contact
//   points and query answers;
// - unless the input is wild (byte 0, bit 0), where setters, shape sizes and
//   callbacks also get NaN, infinities, denormals and 1e30, every value fed
//   in is finite and at most 1e6 in magnitude: then every body state read
//   back (matrix, velocities, net force and torque, box) and every contact
//   point stays finite.
//
// Input: byte 0: bit 0 wild, bit 1 scalar solver, bits 2-3 solver iteration
// mode (0, 1, 4, 16), bit 4 callbacks may act while the world is destroyed;
// then operations, each an opcode byte and its arguments (see Scene::step),
// until the input or the sub-step budget runs out.
#include "dgMemory.h"
#include "dgPhysics.h"
#include "FuzzCheck.h"

#include <cfloat>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <limits>
#include <vector>

namespace {

// ---- budgets of one run ----

constexpr int32_t kMaxSubSteps = 120;
constexpr int32_t kMaxLiveBodies = 14;
constexpr int32_t kMaxCreatedBodies = 40;
constexpr int32_t kMaxShapes = 32;
constexpr int32_t kMaxActions = 160;
constexpr int32_t kMaxGroups = 6;
constexpr int32_t kMaxLiveJoints = 12;
constexpr int32_t kMaxCreatedJoints = 40;
constexpr int32_t kMaxAssemblies = 3;
constexpr int32_t kMaxParts = 4;

// ---- counting hooks ----

struct MemoryCount {
    int64_t liveBlocks = 0;
    int64_t liveBytes = 0;
};
MemoryCount g_memory;

void* countingAllocate(uint32_t size) {
    void* block = std::malloc(size ? size : 1u);
    if (block) {
        g_memory.liveBlocks++;
        g_memory.liveBytes += int64_t(size);
    }
    return block;
}

void countingRelease(void* block, uint32_t size) {
    if (block) {
        g_memory.liveBlocks--;
        g_memory.liveBytes -= int64_t(size);
        std::free(block);
    }
}

// ---- input ----

const float kWildValues[16] = {std::numeric_limits<float>::quiet_NaN(),
                               std::numeric_limits<float>::infinity(),
                               -std::numeric_limits<float>::infinity(),
                               1.0e-40f,
                               -1.0e-40f,
                               1.0e30f,
                               -1.0e30f,
                               FLT_MAX,
                               -FLT_MAX,
                               FLT_MIN,
                               0.0f,
                               -0.0f,
                               1.0e6f,
                               -1.0e6f,
                               std::numeric_limits<float>::denorm_min(),
                               -std::numeric_limits<float>::quiet_NaN()};
// Sane escapes, scaled by nothing: the edges of the sane range and the
// small values next to 0.
const float kSaneValues[16] = {0.0f,   -0.0f, 1.0e6f, -1.0e6f, 1.0e-6f, -1.0e-6f, 1.0f,  -1.0f,
                               0.5f,   1.0e3f, -1.0e3f, 1.0e5f, 1.0e-3f, 2.0f,    -2.0f, 0.01f};

class Reader {
public:
    Reader(const uint8_t* data, size_t size, bool wild) : m_data(data), m_size(size), m_wild(wild) {}
    bool more() const { return m_at < m_size; }
    uint8_t next() { return m_at < m_size ? m_data[m_at++] : 0; }
    bool wild() const { return m_wild; }
    // A value in [-range, range) from two bytes, or from one byte at or above
    // 0xF0 an escape: a special value when wild, an edge of the sane range
    // otherwise.
    float value(float range) {
        const uint8_t b = next();
        if (b >= 0xF0) {
            return m_wild ? kWildValues[b & 15] : kSaneValues[b & 15];
        }
        const uint8_t c = next();
        const float unit = float(uint32_t(b) * 256u + c) / float(0xF0 * 256);
        return (2.0f * unit - 1.0f) * range;
    }
    void vector(float* out, float range) {
        for (int32_t i = 0; i < 3; i++) {
            out[i] = value(range);
        }
    }
    // A rigid pose from Euler angles and a position; when wild, one time in
    // four the 16 floats raw.
    void pose(float* out, float range) {
        const uint8_t kind = next();
        if (m_wild && (kind & 3) == 3) {
            for (int32_t i = 0; i < 16; i++) {
                out[i] = value(range);
            }
            return;
        }
        float angles[3];
        vector(angles, 3.2f);
        dgSetEulerAngles(angles, out);
        vector(out + 12, range);
    }

private:
    const uint8_t* m_data;
    size_t m_size;
    size_t m_at = 0;
    bool m_wild;
};

bool finite(const float* v, int32_t count) {
    for (int32_t i = 0; i < count; i++) {
        if (!std::isfinite(v[i])) {
            return false;
        }
    }
    return true;
}

// ---- the scene ----

// Callbacks that can be armed to act (Scene::arm).
enum CallbackKind : uint8_t {
    kForce,
    kTransform,
    kActivation,
    kDestructor,
    kOutOfBounds,
    kBegin,
    kProcess,
    kEnd,
    kCompound,
    kWalk,
    kRay,
    kPolygon,
    kTreeFace,
    kMeshCollide,
    kBuoyancyPlane,
    kJoint,
    kTire,
    kPart,
    kJointDestructor,
    kCallbackKinds
};

// The joint types the header makes.
enum JointKind : uint8_t { kBall, kHinge, kSlider, kCorkscrew, kUniversal, kUpVector, kUser, kVehicle, kJointKinds };

struct JointInfo {
    dgConstraint* joint;
    uint8_t kind;
    uint32_t destructorCalls;
};

struct BodyInfo {
    dgBody* body;
    uint32_t serial;
    // 0 none, 1 gravity, 2 gravity and buoyancy, 3 the stored force and
    // torque, 4 a wild set inside the callback.
    uint8_t forceMode;
    float force[3];
    float torque[3];
    uint32_t destructorCalls;
};

// A user mesh's faces: a few quads over a grid, their vertices from the input.
struct UserMesh {
    float vertices[9 * 3];
    int32_t faceCount;
    int32_t destroyCalls;
    float rayT;
};

// What an armed callback does next, and how many more times.
struct ArmSlot {
    uint8_t action;
    uint8_t remaining;
    uint8_t args[12];
};

class Scene;
Scene* g_scene = nullptr;

class Scene {
public:
    Scene(const uint8_t* data, size_t size) : m_in(data + 1, size - 1, data[0] & 1u) {
        m_flags = data[0];
        std::memset(m_arms, 0, sizeof(m_arms));
        m_trace = std::getenv("FUZZ_TRACE") != nullptr;
    }

    // Runs the scene; returns the hash of everything it read back.
    uint64_t run();

    // ---- callbacks (static trampolines below reach the scene through g_scene) ----
    void onForce(dgBody* body);
    void onTransform(dgBody* body, const float* matrix);
    void onActivation(dgBody* body, uint32_t state);
    void onDestructor(dgBody* body);
    void onOutOfBounds(dgBody* body);
    int32_t onBegin(dgMaterialPair* material, dgBody* body0, dgBody* body1);
    int32_t onProcess(dgMaterialPair* material, dgContact* contact);
    void onEnd(dgMaterialPair* material);
    int32_t onCompound(dgMaterialPair* material, dgBody* body0, dgBody* body1);
    void onWalk(dgBody* body);
    float onRayFilter(dgBody* body, const float* normal, uint32_t attribute, float t);
    uint32_t onRayPrefilter(const dgBody* body, const dgCollision* shape);
    void onPolygon(const dgBody* body, int32_t vertexCount, const float* vertices, int32_t faceId);
    void onTreeFace(const dgBody* treeBody, const dgBody* otherBody, const float* vertices, int32_t stride,
                    int32_t vertexCount, const int32_t* indices);
    void onMeshCollide(dgPolygonSoupCollideDesc* desc);
    float onMeshRay(dgPolygonSoupRayDesc* desc);
    void onMeshDestroy(UserMesh* mesh);
    int32_t onBuoyancyPlane(const float* matrix, float* plane);
    uint32_t onJoint(dgConstraint* joint, dgJointUserDescriptor* desc);
    void onUserJoint(dgConstraint* joint);
    void onJointDestructor(dgConstraint* joint);
    void onTires(dgConstraint* vehicle);
    void onPart(dgAssemblyPart* part);

private:
    void step();
    void createShape();
    void releaseShape();
    void createBody(Reader& in);
    void bodySetter(Reader& in, BodyInfo* info, uint8_t which);
    void worldSetter();
    void material(Reader& in, uint8_t which);
    void update(float elapsed);
    void walk(Reader& in, uint8_t which);
    void query();
    void arm();
    // The armed action of kind for body (may be null), when one is left.
    void fire(CallbackKind kind, dgBody* body);
    void act(uint8_t action, Reader& in, dgBody* self);
    void jointOp(Reader& in);
    void createJoint(Reader& in);
    void destroyJoint(uint8_t b);
    void vehicleOp(Reader& in);
    void addTire(Reader& in, dgConstraint* vehicle);
    void assemblyOp(Reader& in);
    void buildAssembly(Reader& in, dgAssembly* assembly);
    void adoptBody(dgBody* body);
    JointInfo* jointInfoOf(const dgConstraint* joint) const;
    JointInfo* pickJoint(uint8_t b, bool vehicle) const;
    void recordJoint(const JointInfo* info);

    dgCollision* makeShape(Reader& in, uint8_t kind);
    dgCollision* makeTree(Reader& in);
    dgCollision* makeUserMesh(Reader& in);
    dgCollision* copyTree(dgCollision* tree, uint8_t cut);

    // The scene's record of one of its bodies; checks that it is one.
    BodyInfo* infoOf(const dgBody* body) const;
    // The record, or null for a body that is not the scene's (the shape
    // queries collide through temporary bodies of their own).
    BodyInfo* findBody(const dgBody* body) const;
    BodyInfo* pickBody(uint8_t b) const { return m_live.empty() ? nullptr : m_live[b % m_live.size()]; }
    dgCollision* pickShape(uint8_t b) const { return m_shapes.empty() ? nullptr : m_shapes[b % m_shapes.size()]; }
    uint32_t pickGroup(uint8_t b) const { return m_groups[b % m_groups.size()]; }
    void keepShape(dgCollision* shape);

    void record(const float* v, int32_t count);
    void recordBody(const BodyInfo* info);
    void checkBody(const BodyInfo* info) const;
    void recordScene();
    bool sane() const { return !m_in.wild(); }

    Reader m_in;
    uint8_t m_flags;
    bool m_trace;
    dgWorld* m_world = nullptr;
    std::deque<BodyInfo> m_infos;
    std::vector<BodyInfo*> m_live;
    std::vector<dgCollision*> m_shapes;
    std::deque<UserMesh> m_meshes;
    std::vector<uint32_t> m_groups;
    std::deque<JointInfo> m_jointInfos;
    std::vector<JointInfo*> m_liveJoints;
    std::vector<dgAssembly*> m_assemblies;
    int32_t m_createdJoints = 0;
    ArmSlot m_arms[kCallbackKinds];
    int32_t m_subSteps = 0;
    int32_t m_actions = 0;
    int32_t m_createdBodies = 0;
    int32_t m_depth = 0;
    int32_t m_walking = 0;
    bool m_updating = false;
    bool m_tearingDown = false;
    uint64_t m_hash = 1469598103934665603ull;
};

// ---- trampolines ----

void forceCallback(dgBody* body) {
    g_scene->onForce(body);
}
void transformCallback(dgBody* body, const float* matrix) {
    g_scene->onTransform(body, matrix);
}
void activationCallback(dgBody* body, uint32_t state) {
    g_scene->onActivation(body, state);
}
void destructorCallback(dgBody* body) {
    g_scene->onDestructor(body);
}
void outOfBoundsCallback(dgBody* body) {
    g_scene->onOutOfBounds(body);
}
int32_t beginCallback(dgMaterialPair* material, dgBody* body0, dgBody* body1) {
    return g_scene->onBegin(material, body0, body1);
}
int32_t processCallback(dgMaterialPair* material, dgContact* contact) {
    return g_scene->onProcess(material, contact);
}
void endCallback(dgMaterialPair* material) {
    g_scene->onEnd(material);
}
int32_t compoundCallback(dgMaterialPair* material, dgBody* body0, dgBody* body1) {
    return g_scene->onCompound(material, body0, body1);
}
void walkCallback(dgBody* body) {
    g_scene->onWalk(body);
}
float rayFilterCallback(dgBody* body, const float* normal, uint32_t attribute, void*, float t) {
    return g_scene->onRayFilter(body, normal, attribute, t);
}
uint32_t rayPrefilterCallback(const dgBody* body, const dgCollision* shape, void*) {
    return g_scene->onRayPrefilter(body, shape);
}
void polygonCallback(const dgBody* body, int32_t vertexCount, const float* vertices, int32_t faceId) {
    g_scene->onPolygon(body, vertexCount, vertices, faceId);
}
void treeFaceCallback(const dgBody* treeBody, const dgBody* otherBody, const float* vertices, int32_t stride,
                      int32_t vertexCount, const int32_t* indices) {
    g_scene->onTreeFace(treeBody, otherBody, vertices, stride, vertexCount, indices);
}
void meshCollideCallback(dgPolygonSoupCollideDesc* desc) {
    g_scene->onMeshCollide(desc);
}
float meshRayCallback(dgPolygonSoupRayDesc* desc) {
    return g_scene->onMeshRay(desc);
}
void meshDestroyCallback(void* userData) {
    g_scene->onMeshDestroy(static_cast<UserMesh*>(userData));
}
int32_t buoyancyPlaneCallback(uint32_t, void*, const float* globalMatrix, float* globalPlane) {
    return g_scene->onBuoyancyPlane(globalMatrix, globalPlane);
}
uint32_t jointCallback(dgConstraint* joint, dgJointUserDescriptor* desc) {
    return g_scene->onJoint(joint, desc);
}
void ballCallback(dgConstraint* joint) {
    g_scene->onJoint(joint, nullptr);
}
void userJointCallback(dgConstraint* joint) {
    g_scene->onUserJoint(joint);
}
void jointDestructorCallback(dgConstraint* joint) {
    g_scene->onJointDestructor(joint);
}
void tireCallback(dgConstraint* vehicle) {
    g_scene->onTires(vehicle);
}
void partCallback(dgAssemblyPart* part) {
    g_scene->onPart(part);
}

void serializeToVector(void* userData, const void* buffer, uint32_t size) {
    auto& out = *static_cast<std::vector<uint8_t>*>(userData);
    out.insert(out.end(), static_cast<const uint8_t*>(buffer), static_cast<const uint8_t*>(buffer) + size);
}

struct StreamIn {
    const std::vector<uint8_t>* bytes;
    size_t at;
    size_t end;
};

uint32_t deserializeFromVector(void* userData, void* buffer, uint32_t size) {
    StreamIn& in = *static_cast<StreamIn*>(userData);
    const size_t n = (size < in.end - in.at) ? size : in.end - in.at;
    if (n) {
        std::memcpy(buffer, in.bytes->data() + in.at, n);
    }
    in.at += n;
    return uint32_t(n);
}

// ---- recording ----

void Scene::record(const float* v, int32_t count) {
    uint32_t bits;
    for (int32_t i = 0; i < count; i++) {
        std::memcpy(&bits, v + i, sizeof(bits));
        m_hash = (m_hash ^ bits) * 1099511628211ull;
    }
}

void Scene::recordBody(const BodyInfo* info) {
    float state[16 + 3 * 8];
    dgBody* body = info->body;
    dgBodyGetMatrix(body, state);
    dgBodyGetVelocity(body, state + 16);
    dgBodyGetOmega(body, state + 19);
    dgBodyGetForce(body, state + 22);
    dgBodyGetTorque(body, state + 25);
    dgBodyGetAABB(body, state + 28, state + 31);
    dgBodyGetCentreOfMass(body, state + 34);
    state[37] = dgBodyGetLinearDamping(body);
    state[38] = float(dgBodyGetAutoFreeze(body));
    state[39] = float(dgBodyGetMaterialGroupId(body));
    record(state, 40);
}

// Sane inputs: a body's state reads back finite.
void Scene::checkBody(const BodyInfo* info) const {
    if (!sane()) {
        return;
    }
    float matrix[16];
    float v[3];
    float boxMin[3];
    float boxMax[3];
    dgBody* body = info->body;
    dgBodyGetMatrix(body, matrix);
    FUZZ_CHECK(finite(matrix, 16));
    dgBodyGetVelocity(body, v);
    FUZZ_CHECK(finite(v, 3));
    dgBodyGetOmega(body, v);
    FUZZ_CHECK(finite(v, 3));
    dgBodyGetForce(body, v);
    FUZZ_CHECK(finite(v, 3));
    dgBodyGetTorque(body, v);
    FUZZ_CHECK(finite(v, 3));
    dgBodyGetAABB(body, boxMin, boxMax);
    FUZZ_CHECK(finite(boxMin, 3) && finite(boxMax, 3));
}

void Scene::recordScene() {
    for (const BodyInfo* info : m_live) {
        recordBody(info);
        checkBody(info);
    }
    for (const JointInfo* info : m_liveJoints) {
        recordJoint(info);
    }
    const int32_t poisoned = dgWorldGetNonFiniteIslandCount(m_world);
    m_hash = (m_hash ^ uint32_t(poisoned)) * 1099511628211ull;
}

BodyInfo* Scene::findBody(const dgBody* body) const {
    for (BodyInfo* info : m_live) {
        if (info->body == body) {
            return info;
        }
    }
    return nullptr;
}

BodyInfo* Scene::infoOf(const dgBody* body) const {
    if (!body) {
        return nullptr;
    }
    BodyInfo* info = static_cast<BodyInfo*>(dgBodyGetUserData(body));
    FUZZ_CHECK(info && info->body == body);
    return info;
}

void Scene::keepShape(dgCollision* shape) {
    if (!shape) {
        return;
    }
    if (int32_t(m_shapes.size()) >= kMaxShapes) {
        dgReleaseCollision(m_world, shape);
        return;
    }
    m_shapes.push_back(shape);
}

// ---- shapes ----

dgCollision* Scene::makeTree(Reader& in) {
    dgCollision* tree = dgCreateTreeCollision(m_world, (in.next() & 1) ? treeFaceCallback : nullptr);
    if (!tree) {
        return nullptr;
    }
    dgTreeCollisionBeginBuild(tree);
    const int32_t faces = in.next() % 8;
    for (int32_t f = 0; f < faces; f++) {
        const uint8_t shape = in.next();
        const int32_t count = 3 + shape % 4;
        const int32_t stride = ((shape >> 2) & 1) ? 4 : 3;
        float vertices[6 * 4] = {};
        // A fan around a centre on a coarse grid, so that faces meet and
        // lie flat often.
        const float cx = float(int8_t(in.next()) / 8) * 4.0f;
        const float cz = float(int8_t(in.next()) / 8) * 4.0f;
        const float cy = float(int8_t(in.next()) / 32);
        for (int32_t i = 0; i < count; i++) {
            const float angle = 6.2831853f * float(i) / float(count);
            float* v = vertices + i * stride;
            v[0] = cx + 6.0f * std::cos(angle);
            v[1] = cy;
            v[2] = cz - 6.0f * std::sin(angle);
            if ((shape & 0x80) && i == 0) {
                v[1] = in.value(8.0f);
            }
        }
        dgTreeCollisionAddFace(tree, count, vertices, stride * int32_t(sizeof(float)), int32_t(shape >> 3));
    }
    dgTreeCollisionEndBuild(tree, in.next() & 1);
    return tree;
}

dgCollision* Scene::copyTree(dgCollision* tree, uint8_t cut) {
    std::vector<uint8_t> bytes;
    dgTreeCollisionSerialize(tree, serializeToVector, &bytes);
    if (bytes.empty()) {
        return nullptr;
    }
    // Now and then the stream comes short or with a byte changed.
    StreamIn stream{&bytes, 0, bytes.size()};
    if ((cut & 7) == 1) {
        stream.end = bytes.size() * cut / 256u;
    } else if ((cut & 7) == 2) {
        bytes[(size_t(cut) * 7u) % bytes.size()] ^= uint8_t(cut);
    }
    return dgCreateTreeCollisionFromSerialization(m_world, (cut & 8) ? treeFaceCallback : nullptr,
                                                  deserializeFromVector, &stream);
}

dgCollision* Scene::makeUserMesh(Reader& in) {
    m_meshes.emplace_back();
    UserMesh& mesh = m_meshes.back();
    mesh.destroyCalls = 0;
    mesh.faceCount = 1 + in.next() % 4;
    // A 3 x 3 grid of vertices 8 apart, heights from the input.
    for (int32_t i = 0; i < 9; i++) {
        mesh.vertices[3 * i] = float(i % 3) * 8.0f - 8.0f;
        mesh.vertices[3 * i + 1] = (in.next() & 1) ? in.value(2.0f) : 0.0f;
        mesh.vertices[3 * i + 2] = float(i / 3) * 8.0f - 8.0f;
    }
    mesh.rayT = in.value(1.0f);
    float boxMin[3] = {-8.0f, -2.0f, -8.0f};
    float boxMax[3] = {8.0f, 2.0f, 8.0f};
    if (in.next() & 1) {
        in.vector(boxMin, 10.0f);
    }
    dgCollision* shape = dgCreateUserMeshCollision(m_world, boxMin, boxMax, &mesh, meshCollideCallback,
                                                   (in.next() & 1) ? meshRayCallback : nullptr,
                                                   meshDestroyCallback);
    if (!shape) {
        // Never handed to the engine: nothing will call its destroy.
        mesh.destroyCalls = 1;
    }
    return shape;
}

dgCollision* Scene::makeShape(Reader& in, uint8_t kind) {
    float offset[16];
    const float* offsetArg = nullptr;
    auto readOffset = [&]() {
        if (in.next() & 1) {
            in.pose(offset, 2.0f);
            offsetArg = offset;
        }
    };
    switch (kind % 15) {
        case 0: {
            const float dx = in.value(4.0f), dy = in.value(4.0f), dz = in.value(4.0f);
            readOffset();
            return dgCreateBox(m_world, dx, dy, dz, offsetArg);
        }
        case 1: {
            const float r = in.value(2.0f);
            readOffset();
            return dgCreateSphere(m_world, r, r, r, offsetArg);
        }
        case 2: {
            const float rx = in.value(2.0f), ry = in.value(2.0f), rz = in.value(2.0f);
            readOffset();
            return dgCreateSphere(m_world, rx, ry, rz, offsetArg);
        }
        case 3:
        case 4:
        case 5:
        case 6: {
            const float radius = in.value(2.0f), height = in.value(4.0f);
            readOffset();
            switch (kind % 15) {
                case 3:
                    return dgCreateCone(m_world, radius, height, offsetArg);
                case 4:
                    return dgCreateCapsule(m_world, radius, height, offsetArg);
                case 5:
                    return dgCreateCylinder(m_world, radius, height, offsetArg);
                default:
                    return dgCreateChamferCylinder(m_world, radius, height, offsetArg);
            }
        }
        case 7: {
            const int32_t count = in.next() % 12;
            const int32_t stride = (in.next() & 1) ? 4 : 3;
            float points[12 * 4] = {};
            for (int32_t i = 0; i < count; i++) {
                in.vector(points + i * stride, 2.0f);
            }
            readOffset();
            return dgCreateConvexHull(m_world, count, points, stride * int32_t(sizeof(float)), offsetArg);
        }
        case 8: {
            dgCollision* parts[4];
            const int32_t count = in.next() % 5;
            for (int32_t i = 0; i < count; i++) {
                // Now and then a null entry, which the compound skips.
                const uint8_t b = in.next();
                parts[i] = (b == 0xFF) ? nullptr : pickShape(b);
            }
            return dgCreateCompoundCollision(m_world, count, parts);
        }
        case 9:
            return dgCreateConvexModifier(m_world, pickShape(in.next()));
        case 10:
            return dgCreateNull(m_world);
        case 11:
            return makeTree(in);
        case 12: {
            dgCollision* source = pickShape(in.next());
            return source ? copyTree(source, in.next()) : nullptr;
        }
        case 13:
            return makeUserMesh(in);
        default: {
            // A modifier of a fresh primitive, deformed at once.
            dgCollision* inner = dgCreateBox(m_world, in.value(3.0f), in.value(3.0f), in.value(3.0f), nullptr);
            dgCollision* modifier = dgCreateConvexModifier(m_world, inner);
            dgReleaseCollision(m_world, inner);
            if (modifier) {
                float matrix[16];
                in.pose(matrix, 1.0f);
                for (int32_t i = 0; i < 12; i++) {
                    matrix[i] *= 1.0f + 0.5f * in.value(1.0f);
                }
                dgConvexModifierSetMatrix(modifier, matrix);
            }
            return modifier;
        }
    }
}

void Scene::createShape() {
    const uint8_t kind = m_in.next();
    dgCollision* shape = makeShape(m_in, kind);
    if (m_trace) {
        fprintf(stderr, "shape kind %d -> %p\n", kind % 15, static_cast<void*>(shape));
    }
    if (shape) {
        const uint8_t extra = m_in.next();
        if (extra & 1) {
            dgCollisionSetUserId(shape, extra);
        }
        float inertia[3];
        float origin[3];
        float volume = dgConvexCollisionCalculateVolume(shape);
        dgConvexCollisionCalculateInertialMatrix(shape, inertia, origin);
        record(&volume, 1);
        record(inertia, 3);
        record(origin, 3);
    }
    keepShape(shape);
}

void Scene::releaseShape() {
    const uint8_t b = m_in.next();
    if (m_shapes.empty()) {
        return;
    }
    const size_t index = b % m_shapes.size();
    dgCollision* shape = m_shapes[index];
    if (b & 0x80) {
        dgCollisionRemoveFromCache(m_world, shape);
        return;
    }
    m_shapes.erase(m_shapes.begin() + ptrdiff_t(index));
    // Without the world the shape may stay in the cache, which the world
    // then releases.
    dgReleaseCollision((b & 0x40) ? nullptr : m_world, shape);
}

// ---- bodies ----

void Scene::createBody(Reader& in) {
    const uint8_t b = in.next();
    dgCollision* shape = pickShape(b);
    if (!shape || int32_t(m_live.size()) >= kMaxLiveBodies || m_createdBodies >= kMaxCreatedBodies) {
        return;
    }
    dgBody* body = dgCreateBody(m_world, shape);
    if (!body) {
        return;
    }
    m_createdBodies++;
    m_infos.emplace_back();
    BodyInfo* info = &m_infos.back();
    std::memset(info, 0, sizeof(*info));
    info->body = body;
    info->serial = uint32_t(m_createdBodies);
    info->forceMode = in.next() % 5;
    in.vector(info->force, 20.0f);
    in.vector(info->torque, 5.0f);
    m_live.push_back(info);
    dgBodySetUserData(body, info);
    dgBodySetDestructorCallback(body, destructorCallback);
    dgBodySetForceAndTorqueCallback(body, forceCallback);
    const uint8_t callbacks = in.next();
    if (callbacks & 1) {
        dgBodySetTransformCallback(body, transformCallback);
    }
    if (callbacks & 2) {
        // The callback is called at once, and its action may destroy the
        // body: a caller holds no body past its destructor.
        dgBodySetActivationCallback(body, activationCallback);
        if (findBody(body) != info) {
            return;
        }
    }
    if (callbacks & 4) {
        dgBodySetContinuousCollisionMode(body, 1);
    }
    if (callbacks & 8) {
        dgBodySetAutoFreeze(body, 0);
    }
    if (callbacks & 16) {
        dgBodySetMaterialGroupId(body, pickGroup(in.next()));
    }
    dgBodySetMassMatrix(body, in.value(10.0f), in.value(10.0f), in.value(10.0f), in.value(10.0f));
    float matrix[16];
    in.pose(matrix, 30.0f);
    dgBodySetMatrix(body, matrix);
    float v[3];
    in.vector(v, 10.0f);
    dgBodySetVelocity(body, v);
    in.vector(v, 3.0f);
    dgBodySetOmega(body, v);
    if (m_trace) {
        fprintf(stderr, "body %u from %p, force mode %d\n", info->serial, static_cast<void*>(shape),
                info->forceMode);
    }
}

void Scene::bodySetter(Reader& in, BodyInfo* info, uint8_t which) {
    if (!info) {
        return;
    }
    dgBody* body = info->body;
    float v[16];
    switch (which % 20) {
        case 0:
            dgBodySetMassMatrix(body, in.value(10.0f), in.value(10.0f), in.value(10.0f), in.value(10.0f));
            break;
        case 1:
            in.pose(v, 30.0f);
            dgBodySetMatrix(body, v);
            break;
        case 2:
            in.pose(v, 30.0f);
            dgBodySetMatrixRecursive(body, v);
            break;
        case 3:
            in.vector(v, 20.0f);
            dgBodySetVelocity(body, v);
            break;
        case 4:
            in.vector(v, 5.0f);
            dgBodySetOmega(body, v);
            break;
        case 5:
            in.vector(v, 100.0f);
            (which & 0x80) ? dgBodyAddForce(body, v) : dgBodySetForce(body, v);
            break;
        case 6:
            in.vector(v, 20.0f);
            (which & 0x80) ? dgBodyAddTorque(body, v) : dgBodySetTorque(body, v);
            break;
        case 7:
            in.vector(v, 1.0f);
            dgBodySetCentreOfMass(body, v);
            break;
        case 8:
            dgBodySetLinearDamping(body, in.value(1.0f));
            break;
        case 9:
            in.vector(v, 1.0f);
            dgBodySetAngularDamping(body, v);
            break;
        case 10:
            dgBodySetFreezeThreshold(body, in.value(1.0f), in.value(1.0f));
            break;
        case 11:
            dgBodySetAutoFreeze(body, which & 0x80);
            break;
        case 12:
            dgBodySetContinuousCollisionMode(body, which & 0x80);
            break;
        case 13:
            dgBodySetDirectLinkCollisionMode(body, which & 0x80);
            break;
        case 14:
            dgBodySetFlagBit3(body, which & 0x80);
            break;
        case 15:
            dgBodySetMaterialGroupId(body, (which & 0x80) ? uint32_t(in.next()) : pickGroup(in.next()));
            break;
        case 16:
            dgBodySetCollision(body, pickShape(in.next()));
            break;
        case 17:
            // Callbacks switched on and off; the destructor callback stays,
            // it is how the scene learns that a body is gone.
            dgBodySetTransformCallback(body, (which & 0x80) ? transformCallback : nullptr);
            dgBodySetActivationCallback(body, (which & 0x40) ? activationCallback : nullptr);
            dgBodySetForceAndTorqueCallback(body, (which & 0x20) ? forceCallback : nullptr);
            info->forceMode = in.next() % 5;
            break;
        case 18: {
            float point[3];
            in.vector(v, 20.0f);
            in.vector(point, 2.0f);
            float matrix[16];
            dgBodyGetMatrix(body, matrix);
            if (!(which & 0x80)) {
                // On the centre of mass exactly, and beside it.
                dgBodyGetCentreOfMass(body, point);
                const float local[3] = {point[0], point[1], point[2]};
                for (int32_t i = 0; i < 3; i++) {
                    point[i] = matrix[12 + i] + local[0] * matrix[i] + local[1] * matrix[4 + i] +
                               local[2] * matrix[8 + i];
                }
            } else {
                for (int32_t i = 0; i < 3; i++) {
                    point[i] += matrix[12 + i];
                }
            }
            dgBodyAddImpulse(body, v, point);
            break;
        }
        default: {
            float gravity[3] = {0.0f, -9.8f, 0.0f};
            if (which & 0x80) {
                in.vector(gravity, 10.0f);
            }
            dgBodyAddBuoyancyForce(body, in.value(2.0f), in.value(1.0f), in.value(1.0f), gravity,
                                   (which & 0x40) ? buoyancyPlaneCallback : nullptr, nullptr);
            break;
        }
    }
}

// ---- the world ----

void Scene::worldSetter() {
    const uint8_t which = m_in.next();
    switch (which % 9) {
        case 0: {
            float low[3];
            float high[3];
            m_in.vector(low, 200.0f);
            m_in.vector(high, 200.0f);
            if (which & 0x80) {
                // A box around the origin, as a game would give.
                for (int32_t i = 0; i < 3; i++) {
                    const float a = std::fabs(low[i]);
                    low[i] = -a;
                    high[i] = a;
                }
            }
            dgWorldSetSize(m_world, low, high);
            break;
        }
        case 1:
            dgWorldSetMinimumFrameRate(m_world, m_in.value(1000.0f));
            break;
        case 2:
            dgWorldSetSimdMode(m_world, which & 0x80);
            break;
        case 3:
            dgWorldSetSolverIterationMode(m_world, int32_t(m_in.next() % 20) - 2);
            break;
        case 4:
            dgWorldSetSolverOption(m_world, int32_t(m_in.next()));
            break;
        case 5:
            dgWorldSetOutOfBoundsCallback(m_world, (which & 0x80) ? outOfBoundsCallback : nullptr);
            break;
        case 6:
            if (BodyInfo* info = pickBody(m_in.next())) {
                (which & 0x80) ? dgWorldFreezeBody(m_world, info->body) : dgWorldUnfreezeBody(m_world, info->body);
            }
            break;
        case 7:
            if (BodyInfo* info = pickBody(m_in.next())) {
                dgDestroyBody(m_world, info->body);
            }
            break;
        default:
            if (!m_updating && !m_walking && !m_tearingDown) {
                m_assemblies.clear();
            }
            dgWorldDestroyAllBodies(m_world);
            break;
    }
}

void Scene::material(Reader& in, uint8_t which) {
    const uint32_t id0 = (which & 0x80) ? uint32_t(in.next()) : pickGroup(in.next());
    const uint32_t id1 = pickGroup(in.next());
    switch (which % 9) {
        case 0:
            if (int32_t(m_groups.size()) < kMaxGroups) {
                m_groups.push_back(dgMaterialCreateGroupId(m_world));
            }
            break;
        case 1:
            dgMaterialSetDefaultCollidable(m_world, id0, id1, which & 0x40);
            break;
        case 2:
            dgMaterialSetDefaultFriction(m_world, id0, id1, in.value(2.0f), in.value(2.0f));
            break;
        case 3:
            dgMaterialSetDefaultElasticity(m_world, id0, id1, in.value(2.0f));
            break;
        case 4:
            dgMaterialSetDefaultSoftness(m_world, id0, id1, in.value(1.0f));
            break;
        case 5: {
            const uint8_t set = in.next();
            dgMaterialSetCollisionCallback(m_world, id0, id1, this, (set & 1) ? beginCallback : nullptr,
                                           (set & 2) ? processCallback : nullptr,
                                           (set & 4) ? endCallback : nullptr);
            break;
        }
        case 6:
            dgMaterialSetCompoundCallback(m_world, id0, id1, (which & 0x40) ? compoundCallback : nullptr);
            break;
        case 7:
            FUZZ_CHECK(dgMaterialGetUserData(m_world, id0, id1) == nullptr ||
                       dgMaterialGetUserData(m_world, id0, id1) == this);
            break;
        default:
            dgMaterialDestroyAllGroups(m_world);
            if (!m_updating && !m_walking) {
                m_groups.assign(1, dgMaterialGetDefaultGroupId(m_world));
            }
            break;
    }
}

void Scene::update(float elapsed) {
    float clamped = elapsed;
    if (!(clamped >= 0.001f)) {
        clamped = 0.001f;
    } else if (clamped > 1.0f / 60.0f) {
        clamped = 1.0f / 60.0f;
    }
    m_updating = true;
    dgWorldUpdate(m_world, elapsed);
    m_updating = false;
    const float step = dgWorldGetTimeStep(m_world);
    FUZZ_CHECK(step > 0.0f && step <= 1.0f / 60.0f + 1e-6f);
    m_subSteps += int32_t(std::lround(clamped / step));
    record(&step, 1);
    recordScene();
    if (m_trace) {
        fprintf(stderr, "update %g: %d sub-steps so far, %zu bodies\n", double(elapsed), m_subSteps,
                m_live.size());
    }
}

// ---- walks and queries ----

void Scene::walk(Reader& in, uint8_t which) {
    // The polygon walk is the body's, not the world's: it holds nothing that
    // the world refuses to tear down.
    const bool worldWalk = (which % 4) != 3;
    m_walking += worldWalk ? 1 : 0;
    switch (which % 4) {
        case 0:
            dgWorldForEachBodyDo(m_world, walkCallback);
            break;
        case 1: {
            float low[3];
            float high[3];
            in.vector(low, 40.0f);
            in.vector(high, 40.0f);
            dgWorldForEachBodyInAABB(m_world, low, high, walkCallback);
            break;
        }
        case 2: {
            float p0[3];
            float p1[3];
            in.vector(p0, 50.0f);
            in.vector(p1, 50.0f);
            dgWorldRayCast(m_world, p0, p1, rayFilterCallback, this, (which & 0x80) ? rayPrefilterCallback : nullptr);
            break;
        }
        default:
            if (BodyInfo* info = pickBody(in.next())) {
                dgBodyForEachPolygonDo(info->body, polygonCallback);
            }
            break;
    }
    m_walking -= worldWalk ? 1 : 0;
}

void Scene::query() {
    const uint8_t which = m_in.next();
    dgCollision* a = pickShape(m_in.next());
    dgCollision* b = pickShape(m_in.next());
    if (!a || !b) {
        return;
    }
    float ma[16];
    float mb[16];
    m_in.pose(ma, 3.0f);
    m_in.pose(mb, 3.0f);
    // A refused query writes nothing: what is recorded must not be the stack's.
    float out[128 * 7] = {};
    if (m_trace) {
        fprintf(stderr, "query %d on %p and %p\n", which % 6, static_cast<void*>(a), static_cast<void*>(b));
    }
    switch (which % 6) {
        case 0:
            dgCollisionCalculateAABB(a, ma, out, out + 3);
            record(out, 6);
            break;
        case 1: {
            float p0[3];
            float p1[3];
            int32_t attribute = 0;
            m_in.vector(p0, 5.0f);
            m_in.vector(p1, 5.0f);
            out[0] = dgCollisionRayCast(a, p0, p1, out + 1, &attribute);
            record(out, out[0] <= 1.0f ? 4 : 1);
            break;
        }
        case 2: {
            float point[3];
            m_in.vector(point, 5.0f);
            if (dgCollisionPointDistance(m_world, point, a, ma, out, out + 3)) {
                record(out, 6);
            }
            break;
        }
        case 3:
            if (dgCollisionClosestPoint(m_world, a, ma, b, mb, out, out + 3, out + 6)) {
                record(out, 9);
            }
            break;
        case 4: {
            const int32_t n = dgCollisionCollide(m_world, m_in.next() % 130, a, ma, b, mb, out, out + 3 * 128,
                                                 out + 6 * 128);
            FUZZ_CHECK(n >= 0 && n <= 128);
            record(out, 3 * n);
            record(out + 3 * 128, 3 * n);
            record(out + 6 * 128, n);
            break;
        }
        default: {
            float va[3];
            float wa[3];
            float vb[3];
            float wb[3];
            m_in.vector(va, 10.0f);
            m_in.vector(wa, 3.0f);
            m_in.vector(vb, 10.0f);
            m_in.vector(wb, 3.0f);
            float toi = 0.0f;
            const int32_t n =
                dgCollisionCollideContinuous(m_world, m_in.next() % 130, m_in.value(0.1f), a, ma, va, wa, b, mb,
                                             vb, wb, &toi, out, out + 3 * 128, out + 6 * 128);
            FUZZ_CHECK(n >= 0 && n <= 128);
            record(&toi, 1);
            record(out, 3 * n);
            break;
        }
    }
}

// ---- armed callbacks ----

void Scene::arm() {
    const uint8_t kind = m_in.next() % kCallbackKinds;
    ArmSlot& slot = m_arms[kind];
    slot.action = m_in.next();
    slot.remaining = m_in.next() % 8;
    for (uint8_t& arg : slot.args) {
        arg = m_in.next();
    }
}

void Scene::fire(CallbackKind kind, dgBody* body) {
    ArmSlot& slot = m_arms[kind];
    if (!slot.remaining || m_actions >= kMaxActions || m_depth > 2) {
        return;
    }
    if (m_tearingDown && !(m_flags & 16)) {
        return;
    }
    slot.remaining--;
    m_actions++;
    Reader in(slot.args, sizeof(slot.args), m_in.wild());
    m_depth++;
    act(slot.action, in, body);
    m_depth--;
}

void Scene::act(uint8_t action, Reader& in, dgBody* self) {
    BodyInfo* selfInfo = self ? infoOf(self) : nullptr;
    BodyInfo* other = pickBody(in.next());
    BodyInfo* target = (selfInfo && (action & 0x80)) ? selfInfo : other;
    if (m_trace) {
        fprintf(stderr, "  act %d on %u\n", action % 16, target ? target->serial : 0u);
    }
    // Bit 4 picks the joints', vehicles' and hierarchies' actions; without
    // it the table below reads as it did before they came.
    if (action & 0x10) {
        switch (action % 4) {
            case 0:
                destroyJoint(in.next());
                break;
            case 1:
                jointOp(in);
                break;
            case 2:
                vehicleOp(in);
                break;
            default:
                assemblyOp(in);
                break;
        }
        return;
    }
    switch (action % 16) {
        case 0:
            if (target) {
                dgDestroyBody(m_world, target->body);
            }
            break;
        case 1:
            createBody(in);
            break;
        case 2:
            keepShape(makeShape(in, in.next()));
            break;
        case 3:
            if (!m_shapes.empty()) {
                const size_t index = in.next() % m_shapes.size();
                dgCollision* shape = m_shapes[index];
                m_shapes.erase(m_shapes.begin() + ptrdiff_t(index));
                dgReleaseCollision(m_world, shape);
            }
            break;
        case 4:
            if (target) {
                dgBodySetCollision(target->body, pickShape(in.next()));
            }
            break;
        case 5:
            bodySetter(in, target, in.next());
            break;
        case 6:
            if (target) {
                (action & 0x40) ? dgWorldFreezeBody(m_world, target->body)
                                : dgWorldUnfreezeBody(m_world, target->body);
            }
            break;
        case 7: {
            // What an update or a walk refuses; the caller's world stays whole.
            const float low[3] = {-50.0f, -50.0f, -50.0f};
            const float high[3] = {50.0f, 50.0f, 50.0f};
            const uint8_t refused = in.next() % 5;
            if (m_trace) {
                fprintf(stderr, "  refused change %d%s\n", refused, m_tearingDown ? " while the world goes" : "");
            }
            switch (refused) {
                case 0:
                    dgWorldUpdate(m_world, 0.016f);
                    break;
                case 1:
                    // Only where an update, a walk or the world's destruction
                    // holds the world: elsewhere a callback that destroys the
                    // world pulls it from under the call that made it.
                    if (m_updating || m_walking || m_tearingDown) {
                        dgWorldDestroy(m_world);
                    }
                    break;
                case 2:
                    dgWorldSetSize(m_world, low, high);
                    break;
                case 3:
                    // Refused in all three: the assemblies stay.
                    if (m_updating || m_walking || m_tearingDown) {
                        dgWorldDestroyAllBodies(m_world);
                    }
                    break;
                default:
                    if (m_updating || m_walking || m_tearingDown) {
                        dgMaterialDestroyAllGroups(m_world);
                    }
                    break;
            }
            break;
        }
        case 8:
            walk(in, in.next());
            break;
        case 9:
            if (target) {
                dgBodyForEachPolygonDo(target->body, polygonCallback);
            }
            break;
        case 10:
            material(in, uint8_t(in.next() & 0x7F));
            break;
        case 11:
            if (dgCollision* shape = pickShape(in.next())) {
                float matrix[16];
                in.pose(matrix, 1.0f);
                for (int32_t i = 0; i < 12; i++) {
                    matrix[i] *= 1.0f + 0.5f * in.value(1.0f);
                }
                dgConvexModifierSetMatrix(shape, matrix);
            }
            break;
        case 12:
            if (target) {
                recordBody(target);
                checkBody(target);
                dgCollision* shape = dgBodyGetCollision(target->body);
                float box[6] = {};
                float matrix[16];
                dgBodyGetMatrix(target->body, matrix);
                dgCollisionCalculateAABB(shape, matrix, box, box + 3);
                record(box, 6);
                float angles[3];
                dgGetEulerAngles(matrix, angles);
                record(angles, 3);
            }
            break;
        case 13:
            if (dgCollision* shape = pickShape(in.next())) {
                dgCollisionRemoveFromCache(m_world, shape);
            }
            break;
        case 14:
            if (target) {
                dgBodySetActivationCallback(target->body, (action & 0x40) ? activationCallback : nullptr);
                dgBodySetTransformCallback(target->body, (action & 0x20) ? transformCallback : nullptr);
            }
            break;
        default:
            if (target) {
                float dv[3];
                float point[3];
                float matrix[16];
                in.vector(dv, 20.0f);
                in.vector(point, 2.0f);
                dgBodyGetMatrix(target->body, matrix);
                for (int32_t i = 0; i < 3; i++) {
                    point[i] += matrix[12 + i];
                }
                dgBodyAddImpulse(target->body, dv, point);
            }
            break;
    }
}

// ---- callbacks ----

void Scene::onForce(dgBody* body) {
    BodyInfo* info = infoOf(body);
    float mass;
    float inertia[3];
    dgBodyGetMassMatrix(body, &mass, &inertia[0], &inertia[1], &inertia[2]);
    const float gravity[3] = {0.0f, -9.8f * mass, 0.0f};
    switch (info->forceMode) {
        case 1:
            dgBodySetForce(body, gravity);
            break;
        case 2: {
            dgBodySetForce(body, gravity);
            const float g[3] = {0.0f, -9.8f, 0.0f};
            dgBodyAddBuoyancyForce(body, 0.7f, 0.1f, 0.1f, g, buoyancyPlaneCallback, nullptr);
            break;
        }
        case 3:
            dgBodySetForce(body, info->force);
            dgBodySetTorque(body, info->torque);
            break;
        case 4:
            if (!sane()) {
                const float nan[3] = {kWildValues[0], 1.0e30f, -kWildValues[1]};
                dgBodyAddForce(body, nan);
                dgBodyAddTorque(body, nan);
            }
            break;
        default:
            break;
    }
    fire(kForce, body);
}

void Scene::onTransform(dgBody* body, const float* matrix) {
    infoOf(body);
    if (sane()) {
        FUZZ_CHECK(finite(matrix, 16));
    }
    fire(kTransform, body);
}

void Scene::onActivation(dgBody* body, uint32_t state) {
    infoOf(body);
    FUZZ_CHECK(state <= 1);
    // A body's shape is readable in every callback it gets.
    FUZZ_CHECK(dgBodyGetCollision(body) != nullptr);
    fire(kActivation, body);
}

void Scene::onDestructor(dgBody* body) {
    BodyInfo* info = infoOf(body);
    info->destructorCalls++;
    FUZZ_CHECK(info->destructorCalls == 1);
    FUZZ_CHECK(dgBodyGetCollision(body) != nullptr);
    fire(kDestructor, body);
    for (size_t i = 0; i < m_live.size(); i++) {
        if (m_live[i] == info) {
            m_live.erase(m_live.begin() + ptrdiff_t(i));
            break;
        }
    }
}

void Scene::onOutOfBounds(dgBody* body) {
    infoOf(body);
    fire(kOutOfBounds, body);
}

int32_t Scene::onBegin(dgMaterialPair* material, dgBody* body0, dgBody* body1) {
    infoOf(body0);
    infoOf(body1);
    FUZZ_CHECK(dgMaterialGetPairUserData(material) == this);
    fire(kBegin, body0);
    return (m_arms[kBegin].action & 0x20) ? 0 : 1;
}

int32_t Scene::onProcess(dgMaterialPair* material, dgContact* contact) {
    float position[3];
    float normal[3];
    float dir0[3];
    float dir1[3];
    dgMaterialGetContactPositionAndNormal(material, position, normal);
    dgMaterialGetContactTangentDirections(material, dir0, dir1);
    float speeds[4] = {dgMaterialGetContactNormalSpeed(material, contact),
                       dgMaterialGetContactTangentSpeed(material, contact, 0),
                       dgMaterialGetContactTangentSpeed(material, contact, 1),
                       dgMaterialGetContactTimeStep(material)};
    record(position, 3);
    record(normal, 3);
    record(speeds, 4);
    if (sane()) {
        FUZZ_CHECK(finite(position, 3) && finite(normal, 3) && finite(dir0, 3) && finite(dir1, 3));
    }
    const uint32_t attribute = dgMaterialGetContactAttribute(material);
    m_hash = (m_hash ^ attribute) * 1099511628211ull;
    // Contact values from the armed slot's bytes, clamped or refused by the
    // setters.
    const ArmSlot& slot = m_arms[kProcess];
    if (slot.action & 0x40) {
        Reader in(slot.args, sizeof(slot.args), m_in.wild());
        dgMaterialSetContactSoftness(material, in.value(1.0f));
        dgMaterialSetContactElasticity(material, in.value(2.0f));
        dgMaterialSetContactFrictionState(material, in.next() & 1, int32_t(in.next() % 3));
        dgMaterialSetContactStaticFriction(material, in.value(2.0f), int32_t(in.next() % 3));
        dgMaterialSetContactKineticFriction(material, in.value(2.0f), int32_t(in.next() % 3));
        dgMaterialSetContactNormalAcceleration(material, in.value(10.0f));
        dgMaterialSetContactTangentAcceleration(material, in.value(10.0f), int32_t(in.next() % 3));
        float direction[3];
        in.vector(direction, 1.0f);
        dgMaterialSetContactTangentDirection(material, direction);
    }
    fire(kProcess, nullptr);
    if (slot.action & 0x20) {
        dgMaterialDisableContact(material);
    }
    return (slot.action & 0x10) ? 0 : 1;
}

void Scene::onEnd(dgMaterialPair* material) {
    FUZZ_CHECK(dgMaterialGetPairUserData(material) == this);
    fire(kEnd, nullptr);
}

int32_t Scene::onCompound(dgMaterialPair*, dgBody* body0, dgBody* body1) {
    infoOf(body0);
    infoOf(body1);
    fire(kCompound, body0);
    return (m_arms[kCompound].action & 0x20) ? 0 : 1;
}

void Scene::onWalk(dgBody* body) {
    const BodyInfo* info = infoOf(body);
    FUZZ_CHECK(info->destructorCalls == 0);
    m_hash = (m_hash ^ info->serial) * 1099511628211ull;
    fire(kWalk, body);
}

float Scene::onRayFilter(dgBody* body, const float* normal, uint32_t attribute, float t) {
    const BodyInfo* info = infoOf(body);
    m_hash = (m_hash ^ info->serial ^ attribute) * 1099511628211ull;
    record(&t, 1);
    record(normal, 3);
    fire(kRay, body);
    return (m_arms[kRay].action & 0x20) ? 1.0f : t;
}

uint32_t Scene::onRayPrefilter(const dgBody* body, const dgCollision*) {
    const BodyInfo* info = infoOf(body);
    return (info->serial & 3) ? 1u : 0u;
}

void Scene::onPolygon(const dgBody* body, int32_t vertexCount, const float* vertices, int32_t faceId) {
    FUZZ_CHECK(vertexCount >= 0 && vertexCount < 4096);
    const BodyInfo* info = infoOf(body);
    record(vertices, 3 * vertexCount);
    m_hash = (m_hash ^ uint32_t(faceId)) * 1099511628211ull;
    fire(kPolygon, info->body);
}

void Scene::onTreeFace(const dgBody* treeBody, const dgBody*, const float* vertices, int32_t stride,
                       int32_t vertexCount, const int32_t* indices) {
    FUZZ_CHECK(stride >= 12 && vertexCount >= 3);
    for (int32_t i = 0; i < vertexCount; i++) {
        record(reinterpret_cast<const float*>(reinterpret_cast<const char*>(vertices) +
                                              ptrdiff_t(indices[i]) * stride),
               3);
    }
    BodyInfo* info = findBody(treeBody);
    if (info) {
        // The face's attribute through the pointer the callback was given,
        // and refused through one that is not the tree's.
        dgCollision* tree = dgBodyGetCollision(info->body);
        const int32_t attribute = dgTreeCollisionGetFaceAttribute(tree, indices);
        dgTreeCollisionSetFaceAttribute(tree, indices, attribute ^ int32_t(m_arms[kTreeFace].action & 1));
        const int32_t stray[2] = {attribute, 0};
        FUZZ_CHECK(dgTreeCollisionGetFaceAttribute(tree, stray + 1) == 0);
        dgTreeCollisionSetFaceAttribute(tree, stray + 1, 5);
        FUZZ_CHECK(stray[0] == attribute && stray[1] == 0);
        m_hash = (m_hash ^ uint32_t(attribute)) * 1099511628211ull;
    }
    fire(kTreeFace, info ? info->body : nullptr);
}

void Scene::onMeshCollide(dgPolygonSoupCollideDesc* desc) {
    UserMesh* mesh = static_cast<UserMesh*>(desc->m_userData);
    FUZZ_CHECK(mesh && mesh->destroyCalls == 0);
    desc->m_vertexArray = mesh->vertices;
    desc->m_vertexStrideInBytes = 3 * int32_t(sizeof(float));
    desc->m_faceCount = 0;
    desc->m_indexCount = 0;
    // Quads of the grid, each as two triangles or one quad.
    static const int32_t kQuads[4][4] = {{0, 3, 4, 1}, {1, 4, 5, 2}, {3, 6, 7, 4}, {4, 7, 8, 5}};
    for (int32_t q = 0; q < mesh->faceCount; q++) {
        desc->m_faceAttributes[desc->m_faceCount] = q + 1;
        desc->m_faceIndexCounts[desc->m_faceCount] = 4;
        for (int32_t i = 0; i < 4; i++) {
            desc->m_faceIndices[desc->m_indexCount++] = kQuads[q][i];
        }
        desc->m_faceCount++;
    }
    BodyInfo* info = findBody(desc->m_soupBody);
    fire(kMeshCollide, info ? info->body : nullptr);
}

float Scene::onMeshRay(dgPolygonSoupRayDesc* desc) {
    UserMesh* mesh = static_cast<UserMesh*>(desc->m_userData);
    FUZZ_CHECK(mesh && mesh->destroyCalls == 0);
    desc->m_normal[0] = 0.0f;
    desc->m_normal[1] = 1.0f;
    desc->m_normal[2] = 0.0f;
    desc->m_attribute = 7;
    return mesh->rayT;
}

void Scene::onMeshDestroy(UserMesh* mesh) {
    mesh->destroyCalls++;
    FUZZ_CHECK(mesh->destroyCalls == 1);
}

int32_t Scene::onBuoyancyPlane(const float* matrix, float* plane) {
    FUZZ_CHECK(matrix != nullptr);
    const ArmSlot& slot = m_arms[kBuoyancyPlane];
    plane[0] = 0.0f;
    plane[1] = 1.0f;
    plane[2] = 0.0f;
    plane[3] = 0.0f;
    if (slot.action & 0x40) {
        Reader in(slot.args, sizeof(slot.args), m_in.wild());
        plane[3] = in.value(10.0f);
        if (!sane()) {
            plane[0] = in.value(1.0f);
        }
    }
    fire(kBuoyancyPlane, nullptr);
    return (slot.action & 0x20) ? 0 : 1;
}

// ---- joints, vehicles and hierarchies ----

JointInfo* Scene::jointInfoOf(const dgConstraint* joint) const {
    JointInfo* info = static_cast<JointInfo*>(dgJointGetUserData(joint));
    FUZZ_CHECK(info && info->joint == joint && info->destructorCalls == 0);
    return info;
}

JointInfo* Scene::pickJoint(uint8_t b, bool vehicle) const {
    std::vector<JointInfo*> pool;
    for (JointInfo* info : m_liveJoints) {
        if (!vehicle || info->kind == kVehicle) {
            pool.push_back(info);
        }
    }
    return pool.empty() ? nullptr : pool[b % pool.size()];
}

void Scene::recordJoint(const JointInfo* info) {
    float v[3] = {0.0f, 0.0f, 0.0f};
    float angle = 0.0f;
    float angles[3] = {0.0f, 0.0f, 0.0f};
    dgConstraint* joint = info->joint;
    switch (info->kind) {
        case kBall:
            dgBallGetJointForce(joint, v);
            dgBallGetJointAngle(joint, angles);
            break;
        case kHinge:
            dgHingeGetJointForce(joint, v);
            angle = dgHingeGetJointAngle(joint);
            break;
        case kSlider:
            dgSliderGetJointForce(joint, v);
            angle = dgSliderGetJointPosition(joint);
            break;
        case kCorkscrew:
            dgCorkscrewGetJointForce(joint, v);
            angle = dgCorkscrewGetJointAngle(joint);
            break;
        case kUniversal:
            dgUniversalGetJointForce(joint, v);
            angle = dgUniversalGetJointAngle0(joint);
            break;
        case kUpVector:
            dgUpVectorGetPin(joint, v);
            break;
        case kUser:
            angle = dgUserJointGetRowForce(joint, 0);
            break;
        default:
            for (dgVehicleTire* tire = dgVehicleGetFirstTire(joint); tire; tire = dgVehicleGetNextTire(joint, tire)) {
                float m[16];
                dgVehicleGetTireMatrix(joint, tire, m);
                record(m, 16);
                if (sane()) {
                    FUZZ_CHECK(finite(m, 16));
                }
            }
            break;
    }
    record(v, 3);
    record(&angle, 1);
    record(angles, 3);
    // A solve that went non-finite leaves its joints reading 0, not NaN.
    FUZZ_CHECK(finite(v, 3) && finite(&angle, 1) && finite(angles, 3));
}

void Scene::createJoint(Reader& in) {
    const uint8_t kind = in.next() % (kJointKinds - 1);
    BodyInfo* child = pickBody(in.next());
    const uint8_t p = in.next();
    BodyInfo* parent = (p & 1) ? pickBody(p >> 1) : nullptr;
    float pivot[3];
    float pin0[3];
    float pin1[3];
    in.vector(pivot, 30.0f);
    in.vector(pin0, 1.0f);
    in.vector(pin1, 1.0f);
    if (!child || int32_t(m_liveJoints.size()) >= kMaxLiveJoints || m_createdJoints >= kMaxCreatedJoints) {
        return;
    }
    dgBody* a = child->body;
    dgBody* b = parent ? parent->body : nullptr;
    dgConstraint* joint = nullptr;
    switch (kind) {
        case kBall:
            joint = dgCreateBallJoint(m_world, pivot, a, b);
            if (joint && (p & 2)) {
                dgBallSetConeLimits(joint, pin0, in.value(3.2f), in.value(3.2f));
            }
            dgBallSetUserCallback(joint, (p & 4) ? ballCallback : nullptr);
            break;
        case kHinge:
            joint = dgCreateHingeJoint(m_world, pivot, pin0, a, b);
            dgHingeSetUserCallback(joint, (p & 4) ? jointCallback : nullptr);
            break;
        case kSlider:
            joint = dgCreateSliderJoint(m_world, pivot, pin0, a, b);
            dgSliderSetUserCallback(joint, (p & 4) ? jointCallback : nullptr);
            break;
        case kCorkscrew:
            joint = dgCreateCorkscrewJoint(m_world, pivot, pin0, a, b);
            dgCorkscrewSetUserCallback(joint, (p & 4) ? jointCallback : nullptr);
            break;
        case kUniversal:
            joint = dgCreateUniversalJoint(m_world, pivot, pin0, pin1, a, b);
            dgUniversalSetUserCallback(joint, (p & 4) ? jointCallback : nullptr);
            break;
        case kUpVector:
            joint = dgCreateUpVectorJoint(m_world, pin0, a);
            break;
        default:
            joint = dgCreateUserJoint(m_world, int32_t(in.next() % 10) - 1, (p & 4) ? userJointCallback : nullptr, a,
                                      b);
            break;
    }
    if (m_trace) {
        fprintf(stderr, "joint kind %d on %u -> %p\n", kind, child->serial, static_cast<void*>(joint));
    }
    if (!joint) {
        return;
    }
    m_createdJoints++;
    m_jointInfos.push_back(JointInfo{joint, kind, 0});
    m_liveJoints.push_back(&m_jointInfos.back());
    dgJointSetUserData(joint, &m_jointInfos.back());
    dgJointSetDestructorCallback(joint, jointDestructorCallback);
    dgJointSetCollisionState(joint, p & 8);
    if (p & 16) {
        dgJointSetStiffness(joint, in.value(1.5f));
    }
}

void Scene::destroyJoint(uint8_t b) {
    if (JointInfo* info = pickJoint(b, (b & 0x80) != 0)) {
        dgDestroyJoint(m_world, info->joint);
    }
}

void Scene::jointOp(Reader& in) {
    const uint8_t which = in.next();
    switch (which % 4) {
        case 0:
        case 1:
            createJoint(in);
            break;
        case 2:
            destroyJoint(in.next());
            break;
        default:
            if (JointInfo* info = pickJoint(in.next(), false)) {
                if (info->kind == kUpVector) {
                    float pin[3];
                    in.vector(pin, 1.0f);
                    dgUpVectorSetPin(info->joint, pin);
                }
                dgJointSetStiffness(info->joint, in.value(1.5f));
                recordJoint(info);
            }
            break;
    }
}

void Scene::addTire(Reader& in, dgConstraint* vehicle) {
    float matrix[16];
    float pin[4];
    in.pose(matrix, 3.0f);
    in.vector(pin, 1.0f);
    pin[3] = in.value(1.0f);
    const float mass = in.value(40.0f), width = in.value(1.0f), radius = in.value(1.0f);
    const float shock = in.value(500.0f), spring = in.value(5000.0f), length = in.value(1.0f);
    dgVehicleTire* tire = dgVehicleAddTire(vehicle, matrix, pin, mass, width, radius, shock, spring, length,
                                           in.next(), nullptr);
    const float steer = in.value(1.0f);
    if (tire) {
        dgVehicleSetTireSteerAngle(vehicle, tire, steer);
    }
    if (m_trace) {
        fprintf(stderr, "tire -> %p\n", static_cast<void*>(tire));
    }
}

void Scene::vehicleOp(Reader& in) {
    const uint8_t which = in.next();
    switch (which % 4) {
        case 0: {
            BodyInfo* chassis = pickBody(in.next());
            float up[3];
            in.vector(up, 1.0f);
            const int32_t tires = in.next() % 5;
            if (!chassis || int32_t(m_liveJoints.size()) >= kMaxLiveJoints || m_createdJoints >= kMaxCreatedJoints) {
                return;
            }
            dgConstraint* vehicle = dgCreateVehicle(m_world, up, chassis->body);
            if (m_trace) {
                fprintf(stderr, "vehicle on %u -> %p\n", chassis->serial, static_cast<void*>(vehicle));
            }
            if (!vehicle) {
                return;
            }
            m_createdJoints++;
            m_jointInfos.push_back(JointInfo{vehicle, kVehicle, 0});
            m_liveJoints.push_back(&m_jointInfos.back());
            dgJointSetUserData(vehicle, &m_jointInfos.back());
            dgJointSetDestructorCallback(vehicle, jointDestructorCallback);
            dgVehicleSetTireCallback(vehicle, (which & 0x80) ? nullptr : tireCallback);
            for (int32_t i = 0; i < tires; i++) {
                addTire(in, vehicle);
            }
            break;
        }
        case 1:
            if (JointInfo* info = pickJoint(in.next(), true)) {
                addTire(in, info->joint);
            }
            break;
        case 2:
            if (JointInfo* info = pickJoint(in.next(), true)) {
                dgVehicleTire* tire = dgVehicleGetFirstTire(info->joint);
                for (uint8_t skip = in.next() % 4; tire && skip; skip--) {
                    tire = dgVehicleGetNextTire(info->joint, tire);
                }
                dgVehicleRemoveTire(info->joint, tire);
            }
            break;
        default:
            if (JointInfo* info = pickJoint(in.next(), true)) {
                if (which & 0x80) {
                    dgVehicleReset(info->joint);
                }
                recordJoint(info);
            }
            break;
    }
}

// A body the scene did not make (a hierarchy's part) taken into its records,
// so that its callbacks and its destruction are checked like the others'.
void Scene::adoptBody(dgBody* body) {
    if (!body || dgBodyGetUserData(body)) {
        return;
    }
    m_infos.emplace_back();
    BodyInfo* info = &m_infos.back();
    std::memset(info, 0, sizeof(*info));
    info->body = body;
    info->serial = uint32_t(1000 + m_infos.size());
    info->forceMode = 1;
    m_live.push_back(info);
    dgBodySetUserData(body, info);
    dgBodySetDestructorCallback(body, destructorCallback);
}

void Scene::buildAssembly(Reader& in, dgAssembly* assembly) {
    dgAssemblyBeginBuild(assembly);
    dgAssemblySetCallbackA(assembly, forceCallback);
    dgAssemblySetCallbackB(assembly, (in.next() & 1) ? partCallback : nullptr);
    dgAssemblyPart* parts[kMaxParts] = {};
    const int32_t count = 1 + in.next() % kMaxParts;
    for (int32_t i = 0; i < count; i++) {
        float matrix[16];
        float size[3];
        in.pose(matrix, i ? 2.0f : 20.0f);
        in.vector(size, 2.0f);
        const uint8_t b = in.next();
        dgAssemblyPart* parent = i ? parts[b % i] : nullptr;
        parts[i] = dgAssemblyAddPart(assembly, parent, nullptr, in.value(10.0f), matrix, pickShape(in.next()), size);
        if (parts[i] && parent && (b & 0x80)) {
            float pin[3];
            in.vector(pin, 1.0f);
            dgAssemblyPartSetLimits(parts[i], pin, in.value(3.2f), in.value(3.2f), in.value(3.2f), 0, 0, 0);
        }
    }
    dgAssemblyEndBuild(assembly);
    if (m_trace) {
        fprintf(stderr, "assembly of %d parts, root %p\n", count, static_cast<void*>(parts[0]));
    }
    for (dgAssemblyPart* part : parts) {
        if (part) {
            adoptBody(dgAssemblyPartGetBody(part));
        }
    }
}

void Scene::assemblyOp(Reader& in) {
    const uint8_t which = in.next();
    switch (which % 3) {
        case 0:
            if (int32_t(m_assemblies.size()) < kMaxAssemblies) {
                if (dgAssembly* assembly = dgCreateAssembly(m_world)) {
                    m_assemblies.push_back(assembly);
                    buildAssembly(in, assembly);
                }
            }
            break;
        case 1:
            if (!m_assemblies.empty()) {
                // Out of the list first: its parts' callbacks may act again.
                const size_t index = in.next() % m_assemblies.size();
                dgAssembly* assembly = m_assemblies[index];
                m_assemblies.erase(m_assemblies.begin() + ptrdiff_t(index));
                dgDestroyAssembly(m_world, assembly);
            }
            break;
        default:
            if (!m_assemblies.empty() && !m_updating) {
                buildAssembly(in, m_assemblies[in.next() % m_assemblies.size()]);
            }
            break;
    }
}

uint32_t Scene::onJoint(dgConstraint* joint, dgJointUserDescriptor* desc) {
    jointInfoOf(joint);
    const ArmSlot& slot = m_arms[kJoint];
    uint32_t rows = 0;
    if (desc) {
        Reader in(slot.args, sizeof(slot.args), m_in.wild());
        desc[0].m_accel = in.value((slot.action & 0x40) ? 1.0e4f : 10.0f);
        if (slot.action & 0x20) {
            desc[0].m_minFriction = -std::fabs(in.value(100.0f));
            desc[0].m_maxFriction = std::fabs(in.value(100.0f));
        }
        rows = slot.action & 1;
    }
    fire(kJoint, nullptr);
    return rows;
}

void Scene::onUserJoint(dgConstraint* joint) {
    jointInfoOf(joint);
    Reader in(m_arms[kJoint].args, sizeof(m_arms[kJoint].args), m_in.wild());
    float a[6];
    float b[6];
    in.vector(a, 30.0f);
    in.vector(b, 30.0f);
    in.vector(a + 3, 1.0f);
    dgUserJointAddLinearRow(joint, a, b, a + 3);
    dgUserJointSetRowSpringDamperAcceleration(joint, in.value(100.0f), in.value(10.0f));
    dgUserJointAddAngularRow(joint, in.value(1.0f), a + 3);
    dgUserJointSetRowStiffness(joint, in.value(1.0f));
    dgUserJointSetRowMinimumFriction(joint, in.value(100.0f));
    in.vector(b + 3, 2.0f);
    dgUserJointAddGeneralRow(joint, a, b);
    dgUserJointSetRowAcceleration(joint, in.value(10.0f));
    dgUserJointSetRowMaximumFriction(joint, in.value(100.0f));
    fire(kJoint, nullptr);
}

void Scene::onJointDestructor(dgConstraint* joint) {
    JointInfo* info = static_cast<JointInfo*>(dgJointGetUserData(joint));
    FUZZ_CHECK(info && info->joint == joint);
    info->destructorCalls++;
    FUZZ_CHECK(info->destructorCalls == 1);
    for (size_t i = 0; i < m_liveJoints.size(); i++) {
        if (m_liveJoints[i] == info) {
            m_liveJoints.erase(m_liveJoints.begin() + ptrdiff_t(i));
            break;
        }
    }
    fire(kJointDestructor, nullptr);
}

void Scene::onTires(dgConstraint* vehicle) {
    jointInfoOf(vehicle);
    Reader in(m_arms[kTire].args, sizeof(m_arms[kTire].args), m_in.wild());
    for (dgVehicleTire* tire = dgVehicleGetFirstTire(vehicle); tire; tire = dgVehicleGetNextTire(vehicle, tire)) {
        float speeds[3] = {dgVehicleTireGetLoad(tire), dgVehicleTireGetNegValueA(tire),
                           dgVehicleTireGetNegValueB(tire)};
        record(speeds, 3);
        dgVehicleTireSetTorque(tire, in.value(500.0f));
        if (m_arms[kTire].action & 0x40) {
            dgVehicleTireSetBrake(tire, dgVehicleTireCalculateMaxBrake(tire), in.value(3000.0f));
        }
        dgVehicleTireSetSlipLimitA(tire, in.value(1.0f));
        dgVehicleTireSetSlipScaleB(tire, in.value(1.0f));
        if (m_arms[kTire].action & 0x20) {
            dgVehicleSetTireSteerAngle(vehicle, tire, in.value(1.0f));
        }
    }
    fire(kTire, nullptr);
}

void Scene::onPart(dgAssemblyPart* part) {
    float matrix[16];
    dgAssemblyPartGetGlobalMatrix(part, matrix);
    record(matrix, 16);
    dgAssemblyPartGetLocalMatrix(part, matrix);
    record(matrix, 16);
    dgBody* body = dgAssemblyPartGetBody(part);
    fire(kPart, body ? infoOf(body)->body : nullptr);
}

// ---- the run ----

void Scene::step() {
    const uint8_t op = m_in.next();
    if (m_trace) {
        // The hash so far: two runs of one input part where they first differ.
        fprintf(stderr, "op %d, hash %016llx\n", op % 17, static_cast<unsigned long long>(m_hash));
    }
    switch (op % 17) {
        case 14:
            jointOp(m_in);
            break;
        case 15:
            vehicleOp(m_in);
            break;
        case 16:
            assemblyOp(m_in);
            break;
        case 0:
        case 1:
            createShape();
            break;
        case 2:
            releaseShape();
            break;
        case 3:
        case 4:
            createBody(m_in);
            break;
        case 5:
            if (BodyInfo* info = pickBody(m_in.next())) {
                dgDestroyBody(m_world, info->body);
            }
            break;
        case 6: {
            BodyInfo* info = pickBody(m_in.next());
            bodySetter(m_in, info, m_in.next());
            break;
        }
        case 7:
            worldSetter();
            break;
        case 8:
            material(m_in, m_in.next());
            break;
        case 9:
        case 10:
            // Mostly a frame's length; the escapes give 0, negative, huge and
            // (wild) non-finite times.
            update(m_in.value(0.03f));
            break;
        case 11:
            walk(m_in, m_in.next());
            break;
        case 12:
            query();
            break;
        default:
            arm();
            break;
    }
}

uint64_t Scene::run() {
    g_scene = this;
    m_world = dgWorldCreate(countingAllocate, countingRelease);
    FUZZ_CHECK(m_world);
    m_groups.push_back(dgMaterialGetDefaultGroupId(m_world));
    dgWorldSetSimdMode(m_world, (m_flags & 2) ? 0 : 1);
    static const int32_t kIterationModes[4] = {0, 1, 4, 16};
    dgWorldSetSolverIterationMode(m_world, kIterationModes[(m_flags >> 2) & 3]);

    while (m_in.more() && m_subSteps < kMaxSubSteps) {
        step();
    }
    recordScene();

    // The caller's references go back while the world stands; what the
    // bodies and the cache hold goes with the world.
    while (!m_shapes.empty()) {
        dgReleaseCollision(m_world, m_shapes.back());
        m_shapes.pop_back();
    }
    m_tearingDown = true;
    dgWorldDestroy(m_world);
    m_world = nullptr;
    FUZZ_CHECK(m_live.empty());
    FUZZ_CHECK(m_liveJoints.empty());
    for (const BodyInfo& info : m_infos) {
        FUZZ_CHECK(info.destructorCalls == 1);
    }
    for (const JointInfo& info : m_jointInfos) {
        FUZZ_CHECK(info.destructorCalls == 1);
    }
    for (const UserMesh& mesh : m_meshes) {
        FUZZ_CHECK(mesh.destroyCalls == 1);
    }
    // Shapes a callback made while the world went are the scene's to give
    // back; none is left here.
    while (!m_shapes.empty()) {
        dgReleaseCollision(nullptr, m_shapes.back());
        m_shapes.pop_back();
    }
    g_scene = nullptr;
    return m_hash;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2) {
        return 0;
    }
    const uint64_t first = Scene(data, size).run();
    // The first run has made whatever lives to program exit (pools, the
    // default allocator); from here the engine's memory must balance.
    dgMemoryCacheFlush();
    const MemoryCount before = g_memory;
    const uint64_t second = Scene(data, size).run();
    dgMemoryCacheFlush();
    if (g_memory.liveBlocks != before.liveBlocks || g_memory.liveBytes != before.liveBytes) {
        fprintf(stderr, "live memory %lld blocks %lld bytes before, %lld blocks %lld bytes after\n",
                static_cast<long long>(before.liveBlocks), static_cast<long long>(before.liveBytes),
                static_cast<long long>(g_memory.liveBlocks), static_cast<long long>(g_memory.liveBytes));
    }
    FUZZ_CHECK(g_memory.liveBlocks == before.liveBlocks && g_memory.liveBytes == before.liveBytes);
    FUZZ_CHECK(first == second);
    return 0;
}

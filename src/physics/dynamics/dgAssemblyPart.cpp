#include "dgAssemblyPart.h"

#include "dgApiWorld.h"
#include "dgAssembly.h"
#include "dgBallJoint.h"
#include "dgBody.h"
#include "dgConstraint.h"
#include "dgWorld.h"

DG_IMPLEMENT_CLASS(dgAssemblyPart, dgBaseNode, "dgAssemblyPart");

namespace {

// The box's inertia is scaled down a little: limbs are thicker at the joints
// than a box of the same outline suggests, and less inertia settles a
// figure sooner.
constexpr float kBoxInertiaScale = 0.7f;
// No axis below a third of the largest: long thin parts would spin about
// their long axis too easily for the solver to hold the joints.
constexpr float kInertiaFloor = 0.33f;

}  // namespace

dgVector dgAssemblyPartInertia(float mass, const float* size) {
    const float x2 = size[0] * size[0];
    const float y2 = size[1] * size[1];
    const float z2 = size[2] * size[2];
    const float k = mass * kBoxInertiaScale / 12.0f;
    float inertia[3] = {(y2 + z2) * k, (x2 + z2) * k, (x2 + y2) * k};
    int32_t largest = 0;
    if ((inertia[1] > inertia[largest]) || (inertia[2] > inertia[largest])) {
        largest = (inertia[1] >= inertia[2]) ? 1 : 2;
    }
    const float floor = kInertiaFloor * inertia[largest];
    for (int32_t i = 0; i < 3; ++i) {
        if ((i != largest) && (inertia[i] < floor)) {
            inertia[i] = floor;
        }
    }
    return dgVector(inertia[0], inertia[1], inertia[2], 0.0f);
}

dgAssemblyPart::dgAssemblyPart(dgAssembly* assembly, void* userData, float sizeX)
    : dgBaseNode(),
      m_pivot(sizeX * 0.5f, 0.0f, 0.0f, 1.0f),
      m_body(nullptr),
      m_assembly(assembly),
      m_joint(nullptr),
      m_userData(userData) {}

dgAssemblyPart::~dgAssemblyPart() {
    if (dgBody* body = m_body) {
        // The body may outlive the part until the end of the sub-step: nothing
        // the world does with it meanwhile may lead back here.
        body->m_assemblyPart = nullptr;
        body->m_transform = nullptr;
        body->m_forceAndTorque = nullptr;
        m_body = nullptr;
        m_joint = nullptr;
        m_assembly->m_world->destroyBody(body);
    }
}

dgMatrix dgAssemblyPart::globalMatrix() const {
    if (!m_body) {
        return dgGetIdentityMatrix();
    }
    dgMatrix matrix = m_body->m_matrix;
    matrix.position = matrix.position - matrix.rotateVector(m_pivot);
    return matrix;
}

dgMatrix dgAssemblyPart::localMatrix() const {
    const dgAssemblyPart* parent = static_cast<const dgAssemblyPart*>(getParent());
    const dgMatrix global = globalMatrix();
    return parent ? global.multiply(parent->globalMatrix().inverse()) : global;
}

void dgAssemblyPart::place(const dgMatrix& global) {
    dgMatrix matrix = global;
    matrix.position = matrix.position + matrix.rotateVector(m_pivot);
    matrix.position.w = 1.0f;
    dgBodySetMatrix(m_body, &matrix.front.x);
}

dgBallJoint* dgAssemblyPart::liveJoint() const {
    const dgAssemblyPart* parent = static_cast<const dgAssemblyPart*>(getParent());
    if (!m_joint || !m_body || !parent || !parent->m_body) {
        return nullptr;
    }
    for (dgJointLink* link = dgWorldFindJointLink(parent->m_body, m_body); link;
         link = dgWorldFindBodyLink(link, m_body)) {
        if (link->m_joint == m_joint) {
            return m_joint;
        }
    }
    return nullptr;
}

void dgAssemblyPartBodyGone(dgAssemblyPart* part) {
    part->m_body = nullptr;
    // The body's joints go with it: the part's own and its children's.
    part->m_joint = nullptr;
    for (dgBaseNode* child = part->getFirstChild(); child; child = child->getNextSibling()) {
        static_cast<dgAssemblyPart*>(child)->m_joint = nullptr;
    }
}

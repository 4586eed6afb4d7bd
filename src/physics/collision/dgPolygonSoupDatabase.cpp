#include "dgPolygonSoupDatabase.h"

#include "dgIntersections.h"
#include "dgMemory.h"

DG_IMPLEMENT_CLASS(dgPolygonSoupDatabase, dgRef, "dgPolygonSoupDatabase");

dgPolygonSoupDatabase::dgPolygonSoupDatabase()
    : m_vertexCount(0), m_vertexStride(0), m_vertexArray(nullptr) {}

dgPolygonSoupDatabase::~dgPolygonSoupDatabase() {
    clearVertices();
}

void dgPolygonSoupDatabase::clearVertices() {
    dgFree(m_vertexArray);
    m_vertexArray = nullptr;
    m_vertexCount = 0;
}

void dgPolygonSoupDatabase::getAABB(dgVector&, dgVector&) const {}

void dgPolygonSoupDatabase::getFacesInAABB(const dgVector&, const dgVector&, dgPolygonSoupFaceCallback,
                                           void*) const {}

void dgPolygonSoupDatabase::getFacesOnRay(const dgVector&, const dgVector&, dgPolygonSoupFaceCallback,
                                          void*) const {}

float dgPolygonSoupDatabase::rayHit(const dgVector& p0, const dgVector& p1) const {
    dgRayHitRecord record(p0, p1);
    getFacesOnRay(p0, p1, dgRayHitClosestCallback, &record);
    return record.t;
}

bool dgPolygonSoupDatabase::rayHitAny(const dgVector& p0, const dgVector& p1) const {
    dgRayHitRecord record(p0, p1);
    getFacesOnRay(p0, p1, dgRayHitAnyCallback, &record);
    return record.t < 1.1f;
}

// One solver step of a world: islands gathered from the awake bodies through
// their joints and contacts, their rows solved, the bodies integrated and
// tested for rest. Two variants with the same algorithm and constants: SIMD
// (packed SSE arithmetic) and scalar; the world's SIMD flag chooses.
#pragma once

class dgWorld;

void dgSimdSolverUpdate(dgWorld* world);
void dgScalarSolverUpdate(dgWorld* world);

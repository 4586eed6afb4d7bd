// All of the engine's mathematics: scalar helpers, vectors, planes, matrices,
// quaternions, bounds helpers, oriented boxes and the floating-point guard.
#pragma once

#include "dgTypes.h"
#include "dgVector.h"
#include "dgPlane.h"
#include "dgMatrix.h"
#include "dgQuaternion.h"
#include "dgMathUtils.h"
#include "dgOrientedBox.h"
#include "dgFpuGuard.h"

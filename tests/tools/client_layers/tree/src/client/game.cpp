#include "client/game.h"
#include "dgPhysics.h"
#include "physics/dynamics/dgPhysics.h"

#include "client/plantmath.h"

#include "client/game.h"

#include <vector>

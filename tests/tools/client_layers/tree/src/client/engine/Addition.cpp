#include "client/engine/Addition.h"
#include "../game.h"

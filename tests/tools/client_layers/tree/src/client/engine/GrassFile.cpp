#include "client/engine/GrassFile.h"
#include "client/engine/Addition.h"

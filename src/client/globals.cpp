#include "client/globals.h"

GameGlobals globals;

#include "platform/sound/fsound.h"

#include "client/engine/JoystickEvent.h"

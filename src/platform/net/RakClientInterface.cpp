#include "platform/net/RakClientInterface.h"

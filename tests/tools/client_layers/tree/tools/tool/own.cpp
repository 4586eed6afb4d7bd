#include "dgInternal.h"

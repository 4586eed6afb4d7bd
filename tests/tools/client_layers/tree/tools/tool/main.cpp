#  include "physics/core/dgInternal.h"

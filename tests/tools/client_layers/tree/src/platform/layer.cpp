#include <dgInternal.h>
#include <vector>

#include "MediaOut.h"

namespace mkmedia {

void writeTerrain(const MediaOut&) {}

}  // namespace mkmedia

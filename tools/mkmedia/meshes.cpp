#include "MediaOut.h"

namespace mkmedia {

void writeMeshes(const MediaOut&) {}

}  // namespace mkmedia

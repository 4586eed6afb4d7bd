#include "MediaOut.h"

namespace mkmedia {

void writeTextures(const MediaOut&) {}

}  // namespace mkmedia

#include "MediaOut.h"

namespace mkmedia {

void writeShaders(const MediaOut&) {}

}  // namespace mkmedia

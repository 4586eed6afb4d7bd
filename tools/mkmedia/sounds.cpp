#include "MediaOut.h"

namespace mkmedia {

void writeSounds(const MediaOut&) {}

}  // namespace mkmedia

// The pieces of the texture generator that live in their own files.
#pragma once

#include "MediaOut.h"

namespace mkmedia {

void writeHudAtlas(const MediaOut& out);  // graphics/hud/hud.png
void writeFonts(const MediaOut& out);     // fonts/font8.png, fonts/font10.png

}  // namespace mkmedia

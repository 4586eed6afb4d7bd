// A value type of the 3D engine.
#pragma once

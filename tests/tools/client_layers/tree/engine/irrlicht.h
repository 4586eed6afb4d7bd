// The 3D engine's all-in-one header.
#pragma once

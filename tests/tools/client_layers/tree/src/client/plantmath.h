#pragma once

#include <irrlicht.h>
#include <vector3d.h>

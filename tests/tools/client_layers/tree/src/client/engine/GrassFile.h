#pragma once

#include <vector3d.h>

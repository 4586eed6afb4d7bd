#pragma once

#include <irrlicht.h>

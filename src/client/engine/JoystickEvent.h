// The joystick event record (to be filled in).
#pragma once

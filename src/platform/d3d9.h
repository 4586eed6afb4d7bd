// The Direct3D 9 device the additive material renderer is made over. There
// is none on this platform: the type exists so the renderer keeps its shape,
// and every renderer holds a null device.
#pragma once

struct IDirect3DDevice9;

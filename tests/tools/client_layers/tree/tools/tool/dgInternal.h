// The tool's own header that shares a name with the engine's.
#pragma once

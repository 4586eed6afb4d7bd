// An internal header of the engine.
#pragma once

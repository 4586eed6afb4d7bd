// The sound library's operations (to be filled in).
#pragma once

struct FSOUND_SAMPLE;
struct FSOUND_STREAM;

// The game state's arithmetic, free of the engine's scene and of the
// globals: the frame step and the rest of a frame to sleep, the FPS figure,
// which light follows which ship, the info and loading texts, and the index
// of a terrain detail level in the engine's table.
//
// Times are real-time milliseconds of the game clock, wrapping at 2^32; they
// are only ever compared as unsigned differences.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace gamemath {

// The longest step a frame hands to the simulation, seconds.
constexpr float kMaxStep = 0.25f;

// The step of a frame: the whole previous frame, from its start to its end
// (its sleep included), in seconds, at most kMaxStep. The first frame of a
// game gives start = end and so 0.
float frameStep(uint32_t previousStart, uint32_t previousEnd);

// What is left of a frame of `frameMs` after the work from `frameStart` to
// `now`: 0 once the frame has taken that long or longer (a slow frame is not
// paced, and never waits for a wrapped-around difference).
uint32_t frameSleep(uint32_t frameStart, uint32_t now, int32_t frameMs);

// The frames-per-second figure of the info text: the work time of the
// frames (their sleeps left out) averaged over at least half a second.
class FpsCounter {
public:
    // One frame's work, ms; a new figure once more than 500 ms gathered.
    void addFrame(uint32_t workMs);
    // 0 until the first figure. Kept in floating point, so that frames of
    // under a millisecond average to a fraction instead of a zero divisor.
    float fps() const { return figure; }

private:
    double accumulated = 0.0;  // ms since the last figure
    uint32_t frames = 0;       // frames since the last figure
    float figure = 0.0f;
};

// What the frame loop does with one of its six lights.
struct LightAction {
    enum Kind : int32_t {
        HIDE,    // no living ship for this light
        KEEP,    // the player's own entry: the light stays as it is
        FOLLOW,  // placed at ship `ship` of the living list and shown
    };
    Kind kind;
    int32_t ship;  // index into the living ships, for FOLLOW; else -1
};

// Light i follows the i-th living ship in list order, for i below
// `lightCount`; `isPlayer` says which of the living ships is the player's.
std::vector<LightAction> assignLights(const std::vector<bool>& isPlayer, int32_t lightCount);

// The info text: the caption, then "triangles: <n>", then "FPS: <fps
// truncated>", one a line, at most 1023 characters.
std::wstring infoText(const wchar_t* caption, int32_t triangles, float fps);

// The loading text the game shows while it builds: one growing text in
// which each new step ends the previous line with "done".
class LoadingText {
public:
    // Ends the open step (if any) with "done" and starts a line with the
    // title; returns the whole text.
    const std::wstring& begin(const wchar_t* title);
    // Ends the open step with "done"; returns the whole text.
    const std::wstring& end();
    const std::wstring& text() const { return whole; }

private:
    std::wstring whole;
    bool open = false;
};

// Detail levels as the game names them count from 1 over the engine's
// thresholds, which count from 0 (index 0 is full detail), so that a
// terrain of n levels overrides exactly its n thresholds: "level 1 at
// 1000" is the engine's threshold 0. The engine switches a patch to detail
// i once the camera is at least threshold i away, for i from 1 up (threshold
// 0 is never consulted).
constexpr int32_t lodIndexOfLevel(int32_t level) {
    return level - 1;
}

// UTF-8 of a wide text (the login form's), for the login message.
std::string utf8(const wchar_t* text);

}  // namespace gamemath

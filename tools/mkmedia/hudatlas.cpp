// The HUD atlas: 512 x 512 RGBA. The HUD keys black out, so every painted
// pixel is a colour and everything else stays (0, 0, 0, 0).
//
// The strips hold 96 pixels per 45 degrees (32 per 15). The HUD picks a strip
// and a shift and reads the pixel under its index mark at
// origin + trunc(angle * 32 / 15), origin being the pixel that shows 0 in that
// strip; ticks sit on exactly those pixels, so integer division (which
// truncates towards zero like the HUD) places them.
#include "paint.h"
#include "platform/assertion.h"
#include "textures.h"

#include <cmath>
#include <string>

namespace mkmedia {

namespace {

constexpr int32_t kSize = 512;
constexpr int32_t kCompassRowHeight = 33;
constexpr int32_t kPitchColumnWidth = 42;
constexpr int32_t kPitchTop = 100;
constexpr int32_t kPitchBottom = 389;  // exclusive

const Colour kGreen{72, 255, 72};
const Colour kPaleGreen{170, 255, 170};
const Colour kYellow{255, 228, 48};
const Colour kRed{255, 64, 40};
const Colour kWhite{255, 255, 224};

int32_t angleToPixels(int32_t degrees) {
    return degrees * 32 / 15;
}

std::string headingLabel(int32_t degrees) {
    return std::to_string(((degrees % 360) + 360) % 360);
}

// One compass row: pixel x shows first + x * 45 / 96 degrees. Ticks hang
// from the base line every 5 degrees, long ones every 15 with the heading's
// number, the four quarters in yellow.
void paintCompassRow(Canvas& canvas, int32_t row, int32_t first, int32_t width) {
    const int32_t top = row * kCompassRowHeight;
    canvas.setClip(Rect{0, top, width, top + kCompassRowHeight});
    const int32_t base = top + 30;
    canvas.hline(0, width - 1, base, kGreen);
    for (int32_t degrees = first; angleToPixels(degrees - first) < width; degrees += 5) {
        const int32_t x = angleToPixels(degrees - first);
        const bool major = degrees % 15 == 0;
        canvas.vline(x, base - (major ? 10 : 5), base - 1, kGreen);
        if (major) {
            const std::string label = headingLabel(degrees);
            const Colour colour = degrees % 90 == 0 ? kYellow : kGreen;
            canvas.text(x - Canvas::textWidth(label) / 2, top + 10, label, colour);
        }
    }
}

// One pitch column: pixel y shows (y - origin) * 45 / 96 degrees. Rungs run
// from the left edge, where the index mark points; labels every 10 degrees.
void paintPitchColumn(Canvas& canvas, int32_t column, int32_t origin) {
    const int32_t left = column * kPitchColumnWidth;
    canvas.setClip(Rect{left, kPitchTop, left + kPitchColumnWidth, kPitchBottom});
    canvas.vline(left, kPitchTop, kPitchBottom - 1, kGreen);
    for (int32_t degrees = -180; degrees <= 180; degrees += 5) {
        const int32_t y = origin + angleToPixels(degrees);
        if (y < kPitchTop || y >= kPitchBottom) {
            continue;
        }
        const bool major = degrees % 10 == 0;
        canvas.hline(left + 1, left + (major ? 13 : 6), y, degrees == 0 ? kYellow : kGreen);
        if (major) {
            canvas.text(left + 16, y - kGlyphHeight / 2, std::to_string(degrees), kGreen);
        }
    }
}

// Four corner brackets inside a rectangle.
void paintCorners(Canvas& canvas, const Rect& r, int32_t arm, int32_t thickness, Colour colour) {
    canvas.setClip(r);
    for (int32_t t = 0; t < thickness; ++t) {
        canvas.hline(r.x1, r.x1 + arm - 1, r.y1 + t, colour);
        canvas.hline(r.x2 - arm, r.x2 - 1, r.y1 + t, colour);
        canvas.hline(r.x1, r.x1 + arm - 1, r.y2 - 1 - t, colour);
        canvas.hline(r.x2 - arm, r.x2 - 1, r.y2 - 1 - t, colour);
        canvas.vline(r.x1 + t, r.y1, r.y1 + arm - 1, colour);
        canvas.vline(r.x2 - 1 - t, r.y1, r.y1 + arm - 1, colour);
        canvas.vline(r.x1 + t, r.y2 - arm, r.y2 - 1, colour);
        canvas.vline(r.x2 - 1 - t, r.y2 - arm, r.y2 - 1, colour);
    }
}

// Pixels whose centres lie between two radii about a centre.
void paintRing(Canvas& canvas, const Rect& r, double inner, double outer, Colour colour) {
    canvas.setClip(r);
    const double cx = (r.x1 + r.x2) * 0.5;
    const double cy = (r.y1 + r.y2) * 0.5;
    for (int32_t y = r.y1; y < r.y2; ++y) {
        for (int32_t x = r.x1; x < r.x2; ++x) {
            const double d = std::hypot(x + 0.5 - cx, y + 0.5 - cy);
            if (d >= inner && d <= outer) {
                canvas.plot(x, y, colour);
            }
        }
    }
}

void paintCross(Canvas& canvas, const Rect& r, int32_t gap, Colour colour) {
    canvas.setClip(r);
    const int32_t cx = (r.x1 + r.x2 - 1) / 2;
    const int32_t cy = (r.y1 + r.y2 - 1) / 2;
    canvas.hline(r.x1, cx - gap - 1, cy, colour);
    canvas.hline(cx + gap + 1, r.x2 - 1, cy, colour);
    canvas.vline(cx, r.y1, cy - gap - 1, colour);
    canvas.vline(cx, cy + gap + 1, r.y2 - 1, colour);
    canvas.plot(cx, cy, colour);
}

}  // namespace

void writeHudAtlas(const MediaOut& out) {
    Image image(kSize, kSize);
    Canvas canvas(image);

    // Compass rows 0, 1, 2 start at 0, 135 and -90 degrees. Rows 0 and 1 are
    // read up to x 480; row 2 only up to 384 (the contact bracket follows).
    paintCompassRow(canvas, 0, 0, 480);
    paintCompassRow(canvas, 1, 135, 480);
    paintCompassRow(canvas, 2, -90, 384);

    // Pitch columns 0-3 show 0 at y 292, 196, 100 (so 45 at 196) and 388.
    paintPitchColumn(canvas, 0, 292);
    paintPitchColumn(canvas, 1, 196);
    paintPitchColumn(canvas, 2, 100);
    paintPitchColumn(canvas, 3, 388);

    // Centre cross.
    paintCross(canvas, Rect{168, 99, 201, 132}, 4, kGreen);

    // Compass index mark: a triangle pointing up at the strip above it.
    canvas.setClip(Rect{482, 0, 497, 8});
    for (int32_t row = 0; row < 8; ++row) {
        canvas.hline(489 - row, 489 + row, row, kYellow);
    }
    // Pitch index mark: a triangle pointing right at the ladder beside it.
    canvas.setClip(Rect{486, 14, 494, 29});
    for (int32_t column = 0; column < 8; ++column) {
        const int32_t half = 7 - column;
        canvas.vline(486 + column, 21 - half, 21 + half, kYellow);
    }

    // Contact bracket, and the target brackets: locked (red, with inward
    // ticks) and not yet locked (yellow).
    paintCorners(canvas, Rect{385, 66, 417, 98}, 8, 2, kRed);
    const Rect locked{202, 100, 248, 146};
    paintCorners(canvas, locked, 12, 2, kRed);
    canvas.vline(224, 100, 105, kRed);
    canvas.vline(225, 100, 105, kRed);
    canvas.vline(224, 140, 145, kRed);
    canvas.vline(225, 140, 145, kRed);
    canvas.hline(202, 207, 122, kRed);
    canvas.hline(202, 207, 123, kRed);
    canvas.hline(242, 247, 122, kRed);
    canvas.hline(242, 247, 123, kRed);
    paintCorners(canvas, Rect{249, 100, 295, 146}, 10, 1, kYellow);

    // Hull bar: ten segments counted upwards from y 38, each three lit rows
    // and a gap, red at the bottom, yellow, then green.
    canvas.setClip(Rect{498, 0, 500, 39});
    for (int32_t segment = 0; segment < 10; ++segment) {
        const Colour colour = segment < 3 ? kRed : (segment < 6 ? kYellow : kGreen);
        for (int32_t row = 0; row < 3; ++row) {
            canvas.hline(498, 499, 38 - 4 * segment - row, colour);
        }
    }

    // Lead indicator: a ring with a centre dot.
    const Rect lead{482, 40, 498, 56};
    paintRing(canvas, lead, 5.5, 7.2, kYellow);
    paintRing(canvas, lead, 0.0, 1.5, kYellow);

    // Torpedo view crosshair and steering dot.
    paintCross(canvas, Rect{482, 56, 493, 67}, 1, kGreen);
    paintRing(canvas, Rect{494, 58, 501, 65}, 0.0, 3.3, kWhite);

    // Frame corners, two pixels thick, each in its own corner.
    const Colour corner = kPaleGreen;
    canvas.setClip(Rect{482, 68, 495, 81});
    for (int32_t t = 0; t < 2; ++t) {
        canvas.hline(482, 487, 68 + t, corner);  // top left
        canvas.vline(482 + t, 68, 73, corner);
        canvas.hline(489, 494, 68 + t, corner);  // top right
        canvas.vline(494 - t, 68, 73, corner);
        canvas.hline(482, 487, 80 - t, corner);  // bottom left
        canvas.vline(482 + t, 75, 80, corner);
        canvas.hline(489, 494, 80 - t, corner);  // bottom right
        canvas.vline(494 - t, 75, 80, corner);
    }

    for (int32_t y = 0; y < kSize; ++y) {
        for (int32_t x = 0; x < kSize; ++x) {
            const uint8_t* p = image.at(x, y);
            TW_ASSERT(p[3] == 0 || p[0] != 0 || p[1] != 0 || p[2] != 0);
        }
    }
    out.writeImage("graphics/hud/hud.png", image);
}

}  // namespace mkmedia

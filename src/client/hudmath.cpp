#include "client/engine/Finite.h"
#include "client/hudmath.h"

#include "client/constants.h"

#include <algorithm>
#include <cmath>
#include <cstdarg>
#include <cwchar>

using tarnwell::isFinite;

namespace hudmath {

namespace {

constexpr float kPixelLimit = 16777216.0f;  // 2^24

float orZero(float value) {
    return std::isfinite(value) ? value : 0.0f;
}

position2di plus(position2di a, int32_t x, int32_t y) {
    return position2di(a.X + x, a.Y + y);
}

// A vector computed in float, each coordinate truncated.
position2di truncated(float x, float y) {
    return position2di(truncToInt(x), truncToInt(y));
}

const HudLayout kLayout800 = {
    -192,
    {116, -120},
    {116, -192},
    {-138, -118, 279, 116},
    {-48, -102, 97, 84},
    {55, -93, 78, 66},
    {-132, -93, 78, 66},
    {-243, -106, 95, 95},
    {148, -106, 95, 95},
};
const HudLayout kLayout1024 = {
    -192,
    {160, -96},
    {140, -192},
    {-176, -153, 356, 148},
    {-63, -134, 127, 107},
    {74, -128, 95, 95},
    {-169, -128, 95, 95},
    {-313, -133, 124, 124},
    {190, -133, 124, 124},
};
const HudLayout kLayoutAnchorsOnly = {};

}  // namespace

int32_t truncToInt(float value) {
    if (std::isnan(value)) {
        return 0;
    }
    return static_cast<int32_t>(std::clamp(value, -kPixelLimit, kPixelLimit));
}

const HudLayout& layoutForWidth(int32_t screenWidth) {
    if (screenWidth == 800) {
        return kLayout800;
    }
    if (screenWidth == 1024) {
        return kLayout1024;
    }
    return kLayoutAnchorsOnly;
}

std::wstring formatText(const wchar_t* format, ...) {
    wchar_t buffer[100];
    buffer[0] = L'\0';
    va_list args;
    va_start(args, format);
    const int written = std::vswprintf(buffer, sizeof(buffer) / sizeof(buffer[0]), format, args);
    va_end(args);
    // Output that does not fit leaves the buffer's contents unspecified.
    if (written < 0) {
        buffer[sizeof(buffer) / sizeof(buffer[0]) - 1] = L'\0';
    }
    return buffer;
}

Attitude attitudeFromRotation(const vector3df& rotationDegrees) {
    Attitude attitude;
    if (!isFinite(rotationDegrees)) {
        return attitude;
    }
    attitude.rotation.setRotationDegrees(rotationDegrees);
    if (!attitude.rotation.getInverse(attitude.inverse)) {
        attitude.inverse.makeIdentity();
    }
    vector3df forward(0.0f, 0.0f, 1.0f);
    vector3df right(1.0f, 0.0f, 0.0f);
    vector3df up(0.0f, 1.0f, 0.0f);
    attitude.rotation.rotateVect(forward);
    attitude.rotation.rotateVect(right);
    attitude.rotation.rotateVect(up);

    float heading = std::atan2(forward.X, forward.Z) * GAME_RADTODEG;
    if (heading < 0.0f) {
        heading += 360.0f;
    }
    // A tiny negative heading plus 360 rounds to 360 itself.
    if (heading >= 360.0f) {
        heading -= 360.0f;
    }
    attitude.heading = orZero(heading);
    // Rounding can carry |forward.y| a hair past 1 with the nose straight up.
    attitude.pitch = orZero(-std::asin(std::clamp(forward.Y, -1.0f, 1.0f)) * GAME_RADTODEG);
    attitude.roll = orZero(std::atan2(right.Y, up.Y) * GAME_RADTODEG);
    return attitude;
}

Sprite centreCross(position2di centre) {
    return {plus(centre, -16, -16), atlas::kCentreCross};
}

Sprite compassStrip(float heading, position2di centre, const HudLayout& layout) {
    // The ranges are tested in order and a bound belongs to the range that
    // ends there, so an exact multiple of 45 picks the strip of the sector
    // below it while its column wraps to 0.
    int32_t row;
    int32_t shift;
    if (heading <= 45.0f) {
        row = 2;
        shift = 0;
    } else if (heading <= 90.0f) {
        row = 0;
        shift = -96;
    } else if (heading <= 135.0f) {
        row = 0;
        shift = 0;
    } else if (heading <= 180.0f) {
        row = 0;
        shift = 96;
    } else if (heading <= 225.0f) {
        row = 1;
        shift = -96;
    } else if (heading <= 270.0f) {
        row = 1;
        shift = 0;
    } else if (heading <= 315.0f) {
        row = 1;
        shift = 96;
    } else {
        row = 2;
        shift = -96;
    }
    const int32_t column = truncToInt(heading * kStripPixelsPerDegree) % 96;
    const int32_t x = 96 + column + shift;
    return {plus(centre, -96, layout.compassY), recti(x, 33 * row, x + 193, 33 * row + 33)};
}

Sprite compassIndex(position2di centre, const HudLayout& layout) {
    return {plus(centre, -7, 35 + layout.compassY), atlas::kCompassIndex};
}

Sprite pitchLadder(float pitch, position2di centre, const HudLayout& layout) {
    const float p = pitch;
    int32_t column = 0;
    if ((p > 0.0f && p <= 45.0f) || (p > -180.0f && p <= -135.0f)) {
        column = 1;
    } else if ((p > 45.0f && p <= 90.0f) || (p > -135.0f && p <= -90.0f)) {
        column = 2;
    } else if ((p > -90.0f && p <= -45.0f) || (p > 90.0f && p <= 135.0f)) {
        column = 3;
    }
    // The remainder keeps the sign of the pitch.
    const int32_t row = truncToInt(p * kStripPixelsPerDegree) % 96;
    const int32_t k = p > 0.0f ? -96 : 0;
    const int32_t x = 42 * column;
    return {plus(centre, layout.pitchLadder.x, layout.pitchLadder.y),
            recti(x, 196 + row + k, x + 42, 389 + row + k)};
}

Sprite pitchIndex(position2di centre, const HudLayout& layout) {
    return {plus(centre, -11 + layout.pitchLadder.x, 89 + layout.pitchLadder.y), atlas::kPitchIndex};
}

std::array<Line, 10> horizonLines(float roll, float pitch, position2di centre) {
    const float c = std::cos(roll * GAME_DEGTORAD);
    const float s = std::sin(roll * GAME_DEGTORAD);
    const float p = -pitch * 0.15f;
    const float sp = s * p;
    const float cp = c * p;
    const auto at = [&](float x, float y) { return centre + truncated(x, y); };
    const auto opposite = [&](float x, float y) { return centre - truncated(x, y); };
    // The notch points above or below the wing by the sign of the pitch.
    const bool nose = pitch < 0.0f;
    const float b1x = nose ? 45 * c + 8 * s : 45 * c - 8 * s;
    const float b1y = nose ? 45 * s - 8 * c : 45 * s + 8 * c;
    const float b2x = nose ? 45 * c - 8 * s : 45 * c + 8 * s;
    const float b2y = nose ? 45 * s + 8 * c : 45 * s - 8 * c;
    return {{
        {opposite(20 * c - sp, 20 * s + cp), opposite(35 * c - sp, 35 * s + cp)},
        {at(35 * c, 35 * s), at(40 * c, 40 * s)},
        {at(40 * c, 40 * s), at(b1x, b1y)},
        {at(b1x, b1y), at(50 * c, 50 * s)},
        {at(50 * c, 50 * s), at(65 * c, 65 * s)},
        {at(20 * c + sp, 20 * s - cp), at(35 * c + sp, 35 * s - cp)},
        {opposite(35 * c, 35 * s), opposite(40 * c, 40 * s)},
        {opposite(40 * c, 40 * s), opposite(b2x, b2y)},
        {opposite(b2x, b2y), opposite(50 * c, 50 * s)},
        {opposite(50 * c, 50 * s), opposite(65 * c, 65 * s)},
    }};
}

std::vector<HudText> gaugeTexts(const GaugeInput& input, position2di centre, const HudLayout& layout) {
    const position2di first = plus(centre, layout.gauges.x, layout.gauges.y);
    const auto row = [&](int32_t index) { return plus(first, 0, 10 * index); };
    std::vector<HudText> texts;
    texts.push_back({row(0), formatText(L"%5.1f m", -input.position.Y), kGreen});
    if (input.groundHeight) {
        texts.push_back({row(1), formatText(L"%5.1f m", input.position.Y - *input.groundHeight), kGreen});
    }

    float speed = input.velocity.getLength() * 3.6f;
    vector3df heading = input.velocity;
    heading.normalize();
    const float cosine = std::clamp(heading.dotProduct(input.direction), -1.0f, 1.0f);
    SColor speedColour = kGreen;
    if (std::acos(cosine) * GAME_RADTODEG > 90.1f) {
        speed = -speed;
        speedColour = kRed;
    }
    texts.push_back({row(2), formatText(L"%5.1f km/h", speed), speedColour});
    texts.push_back({row(3), formatText(L"%5.1f kN", input.mass * input.thrustInput.Z / 1000.0f), kGreen});

    const float level =
        input.engineOn ? std::fabs(input.thrustInput.Z / input.maxForwardThrust) * 4.0f + 1.0f : 0.0f;
    const SColor levelColour = level >= 3.5f ? kRed : (level >= 1.5f ? kYellow : kGreen);
    texts.push_back({row(4), formatText(L"NL %1.0f", level), levelColour});
    texts.push_back({row(5), formatText(L"BUZ %1.0f", 0.0), kGreen});
    return texts;
}

position2di projectToScreen(const irr::core::matrix4& viewProjection, const vector3df& point,
                            const irr::core::dimension2d<irr::u32>& screen) {
    const position2di notOnScreen(kNotOnScreen, kNotOnScreen);
    if (!isFinite(point)) {
        return notOnScreen;
    }
    const irr::u32 halfWidth = screen.Width / 2;
    const irr::u32 halfHeight = screen.Height / 2;
    irr::f32 transformed[4] = {point.X, point.Y, point.Z, 1.0f};
    viewProjection.multiplyWith1x4Matrix(transformed);
    if (transformed[3] < 0.0f) {
        return notOnScreen;
    }
    const irr::f32 zDiv = transformed[3] == 0.0f ? 1.0f : 1.0f / transformed[3];
    const irr::f32 x = static_cast<irr::f32>(halfWidth) * (transformed[0] * zDiv);
    const irr::f32 y = static_cast<irr::f32>(halfHeight) * (transformed[1] * zDiv);
    if (!std::isfinite(x) || !std::isfinite(y)) {
        return notOnScreen;
    }
    // The engine rounds by floor(v + 0.5).
    return position2di(static_cast<int32_t>(halfWidth) + truncToInt(std::floor(x + 0.5f)),
                       static_cast<int32_t>(halfHeight) - truncToInt(std::floor(y + 0.5f)));
}

Sprite contactBracket(position2di screen) {
    return {plus(screen, -16, -16), atlas::kContactBracket};
}

Sprite targetBracket(position2di screen, bool locked) {
    return {plus(screen, -23, -23), locked ? atlas::kTargetLocked : atlas::kTargetNotLocked};
}

std::optional<Sprite> hullBar(position2di screen, float hull, float maxHull) {
    const float steps = hull * (10.0f / maxHull) + 1.0f;
    if (!(steps >= 1.0f)) {
        return std::nullopt;
    }
    const int32_t n = std::min(truncToInt(steps), 10);
    const int32_t h = 4 * n - 1;
    return Sprite{plus(screen, 27, 19 - h), recti(498, 39 - h, 500, 39)};
}

Sprite leadIndicator(position2di aimScreen) {
    return {plus(aimScreen, -8, -8), atlas::kLeadIndicator};
}

std::array<Line, 3> offScreenArrow(const irr::core::matrix4& inverseRotation, const vector3df& player,
                                   const vector3df& target, position2di centre) {
    vector3df v = target - player;
    v.normalize();
    inverseRotation.rotateVect(v);
    const float a = -std::atan2(v.Y, v.X) * GAME_RADTODEG - 90.0f;
    const float s = -std::sin(a * GAME_DEGTORAD);
    const float c = std::cos(a * GAME_DEGTORAD);
    const position2di tip = centre + truncated(100 * s, 100 * c);
    const position2di right = centre + truncated(85 * s + 15 * c, 85 * c - 15 * s);
    const position2di left = centre + truncated(85 * s - 15 * c, 85 * c + 15 * s);
    return {{{tip, right}, {tip, left}, {right, left}}};
}

Column playerColumn(const vector3df& player, float groundHeight) {
    const float d = (std::fabs(groundHeight) - std::fabs(player.Y)) / 2.0f;
    return {vector3df(player.X, groundHeight + d - kShadowDepth, player.Z), vector3df(15.0f, d, 15.0f)};
}

Column contactColumn(const vector3df& contact, float groundHeight, float extraHeight, float playerZ) {
    const float d = (std::fabs(groundHeight) - std::fabs(contact.Y)) / 2.0f + extraHeight;
    float width = 15.0f;
    const float dz = playerZ - contact.Z;
    if (dz > 0.0f) {
        width = 15.0f * (1.0f - dz / 750.0f);
        if (width < 0.02f) {
            width = 0.02f;
        }
    }
    return {vector3df(contact.X, groundHeight + d - kShadowDepth, contact.Z), vector3df(width, d, width)};
}

CameraPose sonarCameraPose(const vector3df& player, float groundHeight, float heading) {
    return {vector3df(0.0f, 50.0f, -750.0f),
            vector3df(player.X, groundHeight + 150.0f - kShadowDepth, player.Z),
            vector3df(0.0f, heading, 0.0f)};
}

bool torpedoBlinkOn(uint32_t deviceTimeMs) {
    return (deviceTimeMs / 200) % 2 == 1;
}

ShadowTerrain shadowTerrain(float lowest, float highest) {
    return {lowest - kShadowDepth, (highest - lowest) / 255.0f};
}

float targetCameraDistance(const vector3df& targetSize) {
    return 1.5f * std::max({0.0f, targetSize.X, targetSize.Y, targetSize.Z});
}

recti panelArea(const PanelRect& rect, position2di bottom) {
    const position2di corner = plus(bottom, rect.x, rect.y);
    return recti(corner, plus(corner, rect.width, rect.height));
}

std::array<Sprite, 4> frameCorners(const PanelRect& rect, position2di bottom) {
    const position2di corner = plus(bottom, rect.x, rect.y);
    return {{
        {corner, atlas::kCornerTopLeft},
        {plus(corner, rect.width - 6, 0), atlas::kCornerTopRight},
        {plus(corner, 0, rect.height - 6), atlas::kCornerBottomLeft},
        {plus(corner, rect.width - 6, rect.height - 6), atlas::kCornerBottomRight},
    }};
}

TorpedoViewMarks torpedoViewMarks(const HudLayout& layout, position2di bottom, const vector3df& aimDegrees) {
    const PanelRect& o = layout.torpedoView;
    const position2di middle = plus(bottom, o.x + o.width / 2, o.y + o.height / 2);
    const int32_t dx =
        truncToInt(std::sin(-aimDegrees.Z * GAME_DEGTORAD) * static_cast<float>(o.width) / 2.0f);
    const int32_t dy =
        truncToInt(std::sin(aimDegrees.X * GAME_DEGTORAD) * static_cast<float>(o.height) / 2.0f);
    const position2di m = plus(middle, -1, -1);
    return {{plus(middle, -6, -6), atlas::kTorpedoCrosshair},
            {m, plus(m, dx, dy)},
            {plus(middle, -4 + dx, -4 + dy), atlas::kSteeringDot}};
}

std::array<HudText, 2> torpedoDistanceTexts(const HudLayout& layout, position2di bottom, float distance) {
    const PanelRect& o = layout.torpedoView;
    return {{{plus(bottom, o.x + 2, o.y - 14), L"Dist:", kGreen},
             {plus(bottom, o.x + 26, o.y - 14), formatText(L"%5.1f m", distance), kGreen}}};
}

std::vector<HudText> targetTexts(const HudLayout& layout, position2di bottom, const TargetData& data) {
    const PanelRect& r3 = layout.radarImage;
    const PanelRect& t = layout.targetView;
    const int32_t yp = layout.panelFrame.y;
    return {
        {plus(bottom, r3.x + 2, r3.y - 15),
         formatText(L"Class: %ls - %ls", data.className.c_str(), data.registration.c_str()), kGreen},
        {plus(bottom, r3.x + 2, r3.y + r3.height), L"Cargo: empty", kGreen},
        {plus(bottom, t.x + 2, yp + 2), L"Dist:", kGreen},
        {plus(bottom, t.x + 26, yp + 2), formatText(L"%5.1f m", data.distance), kGreen},
        {plus(bottom, t.x + 2, yp + 12), L"Dpt:", kGreen},
        {plus(bottom, t.x + 26, yp + 12), formatText(L"%5.1f m", -data.y), kGreen},
        {plus(bottom, t.x + 2, t.y + t.height), L"Vel:", kGreen},
        {plus(bottom, t.x + 20, t.y + t.height), formatText(L"%5.1f km/h", data.speed * 3.6f), kGreen},
        {plus(bottom, t.x + 2, t.y + t.height + 10), L"NL:", kGreen},
    };
}

RadarPlot plotContact(const vector3df& player, float heading, const vector3df& contact, int32_t windowWidth,
                      int32_t windowHeight, float radarRange) {
    const vector3df d = contact - player;
    const float distance = d.getLength();
    float bearing = -std::atan2(d.X, d.Z) * GAME_RADTODEG;
    if (bearing < 0.0f) {
        bearing += 360.0f;
    } else if (bearing >= 360.0f) {
        bearing -= 360.0f;
    }
    const float a = (bearing + heading) * GAME_DEGTORAD;
    const float qx = -distance * std::sin(a);
    const float qz = distance * std::cos(a);
    const float w = static_cast<float>(windowWidth);
    const float h = static_cast<float>(windowHeight);
    // Comparisons are false for NaN: such a contact is on neither radar.
    RadarPlot plot;
    if (std::fabs(qx) < radarRange && std::fabs(qz) < radarRange) {
        plot.left = Offset{truncToInt(w * qx / 2.0f / radarRange), truncToInt(h * qz / 2.0f / radarRange)};
    }
    const float half = radarRange / 2.0f;
    if (std::fabs(qx) < half && std::fabs(qz) < half) {
        plot.right = Offset{truncToInt(2.0f * (w * qx / 2.0f / radarRange)),
                            truncToInt(2.0f * (h * qz / 2.0f / radarRange))};
    }
    return plot;
}

std::array<position2di, 4> radarDot(int32_t centre, Offset offset) {
    const int32_t x = centre + offset.x;
    const int32_t y = centre - offset.y;
    return {{{x - 1, y - 1}, {x - 1, y}, {x, y - 1}, {x, y}}};
}

bool texelInside(position2di texel, const irr::core::dimension2d<irr::u32>& size) {
    return texel.X >= 0 && texel.Y >= 0 && texel.X <= 0xFFFF && texel.Y <= 0xFFFF &&
           static_cast<irr::u32>(texel.X) < size.Width && static_cast<irr::u32>(texel.Y) < size.Height;
}

Sprite radarWindow(const PanelRect& rect, position2di bottom, int32_t centre) {
    return {plus(bottom, rect.x, rect.y), recti(centre - rect.width / 2, centre - rect.height / 2,
                                                centre + rect.width / 2, centre + rect.height / 2)};
}

HudText radarLabel(const PanelRect& rect, position2di bottom, const wchar_t* label) {
    return {plus(bottom, rect.x - 12 + rect.width / 2, rect.y - 14 + rect.height), label, kGreen};
}

}  // namespace hudmath

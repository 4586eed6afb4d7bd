#include "client/inifile.h"

#include "platform/profile.h"

#include <cfloat>
#include <cstdio>
#include <cstdlib>
#include <limits>

namespace {

// Read buffers, in characters with the terminator; a longer value is cut.
constexpr uint32_t kTextBufferSize = 2080;
constexpr uint32_t kIntBufferSize = 20;
constexpr uint32_t kFloatBufferSize = 100;
constexpr uint32_t kVectorBufferSize = 256;
constexpr uint32_t kColorBufferSize = 256;

// No vector component may lie above this.
constexpr double kVectorLimit = 1e15;

int32_t clampToInt32(long value) {
    if (value > std::numeric_limits<int32_t>::max()) {
        return std::numeric_limits<int32_t>::max();
    }
    if (value < std::numeric_limits<int32_t>::min()) {
        return std::numeric_limits<int32_t>::min();
    }
    return static_cast<int32_t>(value);
}

// Beyond the float range a double has no float value to become; take the
// infinity the conversion gives in hardware.
float narrowToFloat(double value) {
    if (value > FLT_MAX) {
        return std::numeric_limits<float>::infinity();
    }
    if (value < -FLT_MAX) {
        return -std::numeric_limits<float>::infinity();
    }
    return static_cast<float>(value);
}

bool isColorChannel(long value) {
    return value >= 0 && value <= 255;
}

}  // namespace

IniFile::IniFile(const char* path) : path(path) {}

IniFile::~IniFile() = default;

std::string IniFile::getString(const char* section, const char* key, const char* defaultValue) {
    char text[kTextBufferSize];
    const uint32_t length = readProfileString(section, key, "", text, sizeof(text), path);
    if (length == 0) {
        setString(section, key, defaultValue);
        return defaultValue != nullptr ? defaultValue : "";
    }
    return std::string(text, length);
}

int32_t IniFile::getInt(const char* section, const char* key, int32_t defaultValue) {
    char text[kIntBufferSize];
    if (readProfileString(section, key, "", text, sizeof(text), path) == 0) {
        setInt(section, key, defaultValue);
        return defaultValue;
    }
    return clampToInt32(std::strtol(text, nullptr, 10));
}

float IniFile::getFloat(const char* section, const char* key, float defaultValue) {
    char text[kFloatBufferSize];
    if (readProfileString(section, key, "", text, sizeof(text), path) == 0) {
        setFloat(section, key, defaultValue);
        return defaultValue;
    }
    return narrowToFloat(std::strtod(text, nullptr));
}

irr::core::vector3df IniFile::getVector3(const char* section, const char* key,
                                         const irr::core::vector3df& defaultValue) {
    char text[kVectorBufferSize];
    irr::core::vector3df value;
    if (readProfileString(section, key, "", text, sizeof(text), path) != 0 &&
        std::sscanf(text, "%f,%f,%f", &value.X, &value.Y, &value.Z) == 3 &&
        !(static_cast<double>(value.X) > kVectorLimit) && !(static_cast<double>(value.Y) > kVectorLimit) &&
        !(static_cast<double>(value.Z) > kVectorLimit)) {
        return value;
    }
    setVector3(section, key, defaultValue);
    return defaultValue;
}

irr::video::SColor IniFile::getColor(const char* section, const char* key, irr::video::SColor defaultValue) {
    char text[kColorBufferSize];
    // Read wider than int so that a number past 32 bits is out of range
    // instead of wrapping into it.
    long red = 0;
    long green = 0;
    long blue = 0;
    long alpha = 0;
    if (readProfileString(section, key, "", text, sizeof(text), path) != 0 &&
        std::sscanf(text, "%ld,%ld,%ld,%ld", &red, &green, &blue, &alpha) == 4 && isColorChannel(red) &&
        isColorChannel(green) && isColorChannel(blue) && isColorChannel(alpha)) {
        return irr::video::SColor(static_cast<irr::u32>(alpha), static_cast<irr::u32>(red),
                                  static_cast<irr::u32>(green), static_cast<irr::u32>(blue));
    }
    setColor(section, key, defaultValue);
    return defaultValue;
}

void IniFile::setString(const char* section, const char* key, const char* value) {
    writeProfileString(section, key, value != nullptr ? value : "", path);
}

void IniFile::setInt(const char* section, const char* key, int32_t value) {
    char text[16];
    std::snprintf(text, sizeof(text), "%d", static_cast<int>(value));
    writeProfileString(section, key, text, path);
}

void IniFile::setFloat(const char* section, const char* key, float value) {
    // "%f" of the largest float is 47 characters.
    char text[64];
    std::snprintf(text, sizeof(text), "%f", static_cast<double>(value));
    writeProfileString(section, key, text, path);
}

void IniFile::setVector3(const char* section, const char* key, const irr::core::vector3df& value) {
    char text[3 * 64];
    std::snprintf(text, sizeof(text), "%f,%f,%f", static_cast<double>(value.X), static_cast<double>(value.Y),
                  static_cast<double>(value.Z));
    writeProfileString(section, key, text, path);
}

void IniFile::setColor(const char* section, const char* key, irr::video::SColor value) {
    char text[32];
    std::snprintf(text, sizeof(text), "%d,%d,%d,%d", static_cast<int>(value.getRed()),
                  static_cast<int>(value.getGreen()), static_cast<int>(value.getBlue()),
                  static_cast<int>(value.getAlpha()));
    writeProfileString(section, key, text, path);
}

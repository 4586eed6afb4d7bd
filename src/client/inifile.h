// The game's configuration file: typed values with defaults, read from the
// file on every call. A getter that finds its value missing, empty or (for
// vectors and colours) unusable writes the default into the file, so after
// one run the file lists every key the game knows with a usable value.
// Read and write failures are not reported: reads give the default, writes
// are dropped.
#pragma once

#include <SColor.h>
#include <vector3d.h>

#include <cstdint>
#include <string>

class IniFile {
public:
    // `path` is not copied: the caller keeps it alive as long as this object.
    explicit IniFile(const char* path);
    virtual ~IniFile();

    // Values as written by the setters below. Numbers are parsed the C
    // library's way: an int or float is its leading number, else 0 (an int
    // beyond 32 bits is clamped), and kept as it stands in the file. A vector
    // needs three numbers "x,y,z", none above 1e15; a colour four integers
    // "r,g,b,a", each 0..255; text after them is ignored.
    virtual std::string getString(const char* section, const char* key, const char* defaultValue);
    virtual int32_t getInt(const char* section, const char* key, int32_t defaultValue);
    virtual float getFloat(const char* section, const char* key, float defaultValue);
    virtual irr::core::vector3df getVector3(const char* section, const char* key,
                                            const irr::core::vector3df& defaultValue);
    virtual irr::video::SColor getColor(const char* section, const char* key,
                                        irr::video::SColor defaultValue);

    // Text as it is; "%d"; "%f"; "%f,%f,%f"; "%d,%d,%d,%d" as red, green,
    // blue, alpha.
    virtual void setString(const char* section, const char* key, const char* value);
    virtual void setInt(const char* section, const char* key, int32_t value);
    virtual void setFloat(const char* section, const char* key, float value);
    virtual void setVector3(const char* section, const char* key, const irr::core::vector3df& value);
    virtual void setColor(const char* section, const char* key, irr::video::SColor value);

private:
    const char* path;
};

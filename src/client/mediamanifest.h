// The media tree's list of its own files, and the checks a file passes before
// the engine reads it. The engine's loaders trust their input: a JPEG without
// its end marker hangs the decoder, a truncated one is read past its end, an
// image header that claims a huge size overflows the pixel buffer, and a
// one-character edit of a .x file crashes the mesh loader or yields an empty
// mesh. So the generator lists every file it writes, and the resource handler
// loads only files that match the list and whose image headers are sane.
//
// The manifest is "manifest.txt" in the media root, one file a line, sorted
// by path (byte order), paths relative to the root with '/' between folders:
//   <checksum, 16 lower-case hex digits> <size in bytes> <path>\n
// The checksum is 64-bit FNV-1a, which tells apart any two files of one size
// that differ in a single byte. None of this depends on the engine, so the
// generator writes its manifest with the same code the game reads it with.
#pragma once

#include <cstdint>
#include <map>
#include <string>

constexpr const char* MEDIA_MANIFEST_FILE = "manifest.txt";

// Neither side of a PNG or JPEG in the media may exceed this (the largest the
// game uses is 512); the engine sizes its pixel buffer from the header alone.
constexpr uint32_t MEDIA_MAX_IMAGE_SIDE = 2048;

// 64-bit FNV-1a of the bytes.
uint64_t mediaChecksum(const std::string& bytes);

// The manifest's text for every file below root but the manifest itself.
// Throws std::filesystem::filesystem_error or std::runtime_error when the
// tree cannot be read.
std::string mediaManifestOf(const std::string& root);

// True for a PNG whose first chunk is its IHDR, or a JPEG that has a frame
// header before its first scan and ends with its end marker, when the image
// is at least 1 and at most MEDIA_MAX_IMAGE_SIDE pixels each way. Which of the
// two the bytes must be follows the path's extension (".png", ".jpg", any
// case); any other path is true.
bool mediaImageHeaderFits(const std::string& path, const std::string& bytes);

class MediaManifest {
public:
    // Reads <root>/manifest.txt. A missing manifest, or one that is not a
    // regular file of at most 64 MiB, lists nothing, and a line that does not
    // parse is skipped, so their files fail the checks below.
    void read(const std::string& root);
    // Takes the manifest's text directly, for the files below root.
    void parse(const std::string& root, const std::string& text);

    // The file (a path below the root, "media/graphics/hud/hud.png") is a
    // regular file (a symbolic link to one will do), matches its line in size
    // and checksum, and, as an image, passes mediaImageHeaderFits. Nothing
    // else is opened, and no more than the listed size is read, so a FIFO, a
    // device or a folder in a file's place fails at once.
    bool fileIntact(const std::string& path) const;
    // A .x mesh file and every texture file it names pass fileIntact; a
    // texture is looked up where the engine's mesh loader looks: the name as
    // written, then its file name in the mesh's folder.
    bool meshIntact(const std::string& path) const;

private:
    struct Entry {
        uint64_t size;
        uint64_t checksum;
    };
    // The path's line, or null when it has none.
    const Entry* entryOf(const std::string& path) const;
    // fileIntact, keeping the bytes read.
    bool readIntact(const std::string& path, std::string& bytes) const;

    std::string root;
    std::map<std::string, Entry> files;  // by path relative to the root
};

// mkmedia OUTPUT_DIR: writes the game's media tree (meshes, textures, fonts,
// sounds, music, terrain, shaders) and its manifest into OUTPUT_DIR, the same
// bytes on every run. Each run writes into a folder of its own beside the
// target and swaps it into place in one step when complete, so neither a
// failed run nor two runs at once leave a half-made tree behind: the target
// always holds the previous tree or a whole new one.
#include "MediaOut.h"
#include "client/mediamanifest.h"

#include <irrlicht.h>

#include <cerrno>
#include <cstdio>
#include <exception>
#include <fcntl.h>
#include <filesystem>
#include <stdexcept>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace {

namespace fs = std::filesystem;

void removeTree(const std::string& path) {
    std::error_code ignored;
    fs::remove_all(path, ignored);
}

// Whether removing the tree at `path` can succeed: every folder in it must
// let this process list it, enter it and unlink what it holds. Entries that
// vanish meanwhile (another run's tree going) are no obstacle.
bool removable(const std::string& path) {
    if (faccessat(AT_FDCWD, path.c_str(), R_OK | W_OK | X_OK, AT_EACCESS) != 0) {
        return errno == ENOENT;
    }
    std::error_code error;
    for (fs::directory_iterator it(path, error), end; !error && it != end; it.increment(error)) {
        std::error_code gone;
        if (it->symlink_status(gone).type() == fs::file_type::directory && !removable(it->path().string())) {
            return false;
        }
    }
    return !error || error == std::errc::no_such_file_or_directory;
}

// A target that holds a tree is exchanged with the new one in one step; the
// old one is then removed. Another run's tree that lands in between is
// replaced in turn, so the last run to finish wins, and every run's tree is
// whole. An old tree that could not be removed would stay behind under the
// temporary name, so it is refused before the exchange: the run fails and
// the target keeps the old tree.
void replaceTree(const std::string& temp, const std::string& target) {
    for (int attempt = 0; attempt < 100; ++attempt) {
        if (std::rename(temp.c_str(), target.c_str()) == 0) {
            return;  // there was no target, or an empty folder
        }
        if (errno != EEXIST && errno != ENOTEMPTY && errno != ENOTDIR) {
            break;
        }
        struct stat old {};
        if (lstat(target.c_str(), &old) == 0 && S_ISDIR(old.st_mode) && !removable(target)) {
            throw std::runtime_error("cannot remove the old tree '" + target + "'");
        }
        if (renameat2(AT_FDCWD, temp.c_str(), AT_FDCWD, target.c_str(), RENAME_EXCHANGE) == 0) {
            std::error_code error;
            fs::remove_all(temp, error);
            if (error) {
                throw std::runtime_error("the new tree is in place, but the old one stays in '" + temp +
                                         "': " + error.message());
            }
            return;
        }
        if (errno != ENOENT) {  // ENOENT: another run moved the target away meanwhile
            break;
        }
    }
    throw std::runtime_error("cannot put '" + temp + "' in place of '" + target + "'");
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: mkmedia OUTPUT_DIR\n");
        return 2;
    }
    std::string target = argv[1];
    // "media/" must not put the temporary tree inside the target.
    while (target.size() > 1 && target.back() == '/') {
        target.pop_back();
    }
    irr::SIrrlichtCreationParameters params;
    params.DriverType = irr::video::EDT_NULL;
    params.LoggingLevel = irr::ELL_NONE;
    irr::IrrlichtDevice* device = irr::createDeviceEx(params);
    if (device == nullptr) {
        std::fprintf(stderr, "mkmedia: cannot create the engine's null device\n");
        return 1;
    }
    int status = 0;
    std::string temp = target + ".tmp-XXXXXX";
    try {
        if (mkdtemp(&temp[0]) == nullptr) {
            temp.clear();
            throw std::runtime_error("cannot create a folder beside '" + target + "'");
        }
        // mkdtemp makes the folder private; the tree gets what mkdir would give it.
        const mode_t mask = umask(0);
        umask(mask);
        if (chmod(temp.c_str(), 0755 & ~mask) != 0) {
            throw std::runtime_error("cannot open up '" + temp + "'");
        }
        const mkmedia::MediaOut out(temp, device);
        mkmedia::writeMeshes(out);
        mkmedia::writeSounds(out);
        mkmedia::writeShaders(out);
        mkmedia::writeTextures(out);
        mkmedia::writeTerrain(out);
        out.writeText(MEDIA_MANIFEST_FILE, mediaManifestOf(temp));
        replaceTree(temp, target);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "mkmedia: %s\n", e.what());
        if (!temp.empty()) {
            removeTree(temp);
        }
        status = 1;
    }
    device->drop();
    return status;
}

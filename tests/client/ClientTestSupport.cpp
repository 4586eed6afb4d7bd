#include "ClientTestSupport.h"

#include <dlfcn.h>
#include <unistd.h>

#include <climits>

namespace clienttest {

namespace {

// Mesa's software rasteriser leaks when it is unloaded; keeping it loaded
// lets the leak checker look at our code only.
void pinSoftwareRasteriser() {
    static const bool pinned = [] {
        dlopen("/usr/lib/x86_64-linux-gnu/dri/swrast_dri.so", RTLD_NOW | RTLD_NODELETE);
        return true;
    }();
    (void)pinned;
}

#if defined(__SANITIZE_ADDRESS__)
// Under the leak checker Mesa runs no threads of its own: the rasteriser
// draws on the test's thread (LP_NUM_THREADS=0) and the shader cache, with
// its writer thread, is off; both are read when the first OpenGL device
// starts. The checker's tracer stops every thread when the binary ends, and
// on a loaded machine it crashed on the rasteriser's threads after the tests
// had passed. Values set from outside stay.
[[maybe_unused]] const bool kMesaOnTheTestThread =
    setenv("LP_NUM_THREADS", "0", 0) == 0 && setenv("MESA_SHADER_CACHE_DISABLE", "true", 0) == 0;
#endif

}  // namespace

void fixedClock(LocalTime* out) {
    *out = LocalTime{};
    out->year = 2007;
    out->month = 2;
    out->day = 3;
    out->hour = 9;
    out->minute = 5;
}

ScopedDevice::ScopedDevice(irr::video::E_DRIVER_TYPE type, irr::IEventReceiver* receiver) : saved(globals) {
    if (type == irr::video::EDT_OPENGL) {
        pinSoftwareRasteriser();
    }
    irr::SIrrlichtCreationParameters params;
    params.DriverType = type;
    params.WindowSize = irr::core::dimension2d<irr::u32>(1024, 768);
    params.EventReceiver = receiver;
    params.LoggingLevel = irr::ELL_INFORMATION;
    device = irr::createDeviceEx(params);
    // A virtual display under many parallel test processes now and then
    // refuses a connection; a window that does not open at once is tried again.
    for (int attempt = 1; device == nullptr && type == irr::video::EDT_OPENGL && attempt < 10; ++attempt) {
        usleep(100000);
        device = irr::createDeviceEx(params);
    }
    publish();
}

void ScopedDevice::publish() const {
    if (device != nullptr) {
        globals.device = device;
        globals.driver = device->getVideoDriver();
        globals.sceneManager = device->getSceneManager();
        globals.gui = device->getGUIEnvironment();
    }
}

ScopedDevice::~ScopedDevice() {
    if (device != nullptr) {
        // The test's receiver may already be gone.
        device->setEventReceiver(nullptr);
        device->closeDevice();
        device->run();
        device->drop();
    }
    globals = saved;
}

bool openGlAvailable() {
    static const bool available = [] {
        const char* display = std::getenv("DISPLAY");
        if (display == nullptr || *display == '\0') {
            return false;
        }
        ScopedDevice probe(irr::video::EDT_OPENGL);
        return probe.get() != nullptr;
    }();
    return available;
}

MediaCopy::MediaCopy() {
    char cwd[PATH_MAX];
    previous = getcwd(cwd, sizeof(cwd)) != nullptr ? cwd : ".";
    char pattern[] = "/tmp/tarnwell-media-XXXXXX";
    const char* made = mkdtemp(pattern);
    EXPECT_NE(made, nullptr);
    folder = made != nullptr ? made : "/tmp";
    const std::string command = "cp -r '" TARNWELL_MEDIA_DIR "' '" + folder + "/media'";
    EXPECT_EQ(std::system(command.c_str()), 0);
    EXPECT_EQ(chdir(folder.c_str()), 0);
}

MediaCopy::~MediaCopy() {
    if (chdir(previous.c_str()) != 0) {
        ADD_FAILURE() << "cannot return to " << previous;
    }
    const std::string command = "rm -rf '" + folder + "'";
    if (std::system(command.c_str()) != 0) {
        ADD_FAILURE() << "cannot remove " << folder;
    }
}

}  // namespace clienttest

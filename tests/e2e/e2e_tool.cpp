// The end-to-end run's helper (tests/e2e/run.sh drives the real game with
// it on a virtual display):
//   shot WINDOW OUT.png          the window's picture as the X server holds it
//   close WINDOW                 the window manager's close message (WM_DELETE_WINDOW)
//   check menu|game OUT.png      the picture shows the menu's login column, or
//                                the game's HUD where its layout puts it
//   login-server PORTFILE SECS   an ENet server on 127.0.0.1 that answers every
//                                login with success; its port goes to PORTFILE,
//                                each login to standard output; ends after SECS
//   frame-gaps WINDOW SECS MS    watches the window's pictures for SECS: every
//                                frame the game shows damages the window, so the
//                                longest time without damage is its longest
//                                frame; fails when that is over MS
#include "client/gamemenumath.h"
#include "client/globals.h"
#include "client/hudmath.h"
#include "client/networkconnection.h"
#include "platform/net/LoopbackServer.h"

#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/Xdamage.h>
#include <poll.h>
#include <irrlicht.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <set>
#include <string>
#include <thread>

namespace {

using irr::core::recti;

// A null device for reading and writing pictures.
struct ImageDevice {
    ImageDevice() {
        irr::SIrrlichtCreationParameters params;
        params.DriverType = irr::video::EDT_NULL;
        params.LoggingLevel = irr::ELL_NONE;
        device = irr::createDeviceEx(params);
    }
    ~ImageDevice() {
        if (device != nullptr) {
            device->drop();
        }
    }
    irr::IrrlichtDevice* device = nullptr;
};

// A window that went away answers with an error, not the end of the tool.
int ignoreXError(Display*, XErrorEvent*) {
    return 0;
}

Window windowOf(const char* text) {
    return static_cast<Window>(std::strtoul(text, nullptr, 0));
}

int shot(const char* windowText, const char* out) {
    Display* display = XOpenDisplay(nullptr);
    if (display == nullptr) {
        std::fprintf(stderr, "shot: no display\n");
        return 1;
    }
    XSetErrorHandler(ignoreXError);
    const Window window = windowOf(windowText);
    XWindowAttributes attributes;
    if (XGetWindowAttributes(display, window, &attributes) == 0) {
        std::fprintf(stderr, "shot: no window %s\n", windowText);
        XCloseDisplay(display);
        return 1;
    }
    XImage* picture = XGetImage(display, window, 0, 0, static_cast<unsigned>(attributes.width),
                                static_cast<unsigned>(attributes.height), AllPlanes, ZPixmap);
    if (picture == nullptr) {
        std::fprintf(stderr, "shot: the window cannot be read\n");
        XCloseDisplay(display);
        return 1;
    }
    ImageDevice images;
    irr::video::IVideoDriver* driver = images.device->getVideoDriver();
    const irr::core::dimension2d<irr::u32> size(static_cast<irr::u32>(attributes.width),
                                                static_cast<irr::u32>(attributes.height));
    irr::video::IImage* image = driver->createImage(irr::video::ECF_R8G8B8, size);
    for (irr::u32 y = 0; y < size.Height; ++y) {
        for (irr::u32 x = 0; x < size.Width; ++x) {
            const unsigned long pixel = XGetPixel(picture, static_cast<int>(x), static_cast<int>(y));
            image->setPixel(x, y,
                            irr::video::SColor(255, static_cast<irr::u32>((pixel & picture->red_mask) >> 16),
                                               static_cast<irr::u32>((pixel & picture->green_mask) >> 8),
                                               static_cast<irr::u32>(pixel & picture->blue_mask)));
        }
    }
    const bool written = driver->writeImageToFile(image, out);
    image->drop();
    XDestroyImage(picture);
    XCloseDisplay(display);
    return written ? 0 : 1;
}

int closeWindow(const char* windowText) {
    Display* display = XOpenDisplay(nullptr);
    if (display == nullptr) {
        return 1;
    }
    XSetErrorHandler(ignoreXError);
    XEvent event{};
    event.xclient.type = ClientMessage;
    event.xclient.window = windowOf(windowText);
    event.xclient.message_type = XInternAtom(display, "WM_PROTOCOLS", True);
    event.xclient.format = 32;
    event.xclient.data.l[0] = static_cast<long>(XInternAtom(display, "WM_DELETE_WINDOW", False));
    event.xclient.data.l[1] = CurrentTime;
    const Status sent = XSendEvent(display, event.xclient.window, False, NoEventMask, &event);
    XFlush(display);
    XCloseDisplay(display);
    return sent != 0 ? 0 : 1;
}

// Colour statistics of a rectangle of the picture.
struct Area {
    size_t colours = 0;      // distinct colours
    double lightness = 0.0;  // mean of (r + g + b) / 3
    double spread = 0.0;     // standard deviation of that lightness
};

Area measure(irr::video::IImage* image, recti rect) {
    const irr::core::dimension2d<irr::u32> size = image->getDimension();
    rect.clipAgainst(recti(0, 0, static_cast<irr::s32>(size.Width), static_cast<irr::s32>(size.Height)));
    std::set<irr::u32> seen;
    double sum = 0.0;
    double squares = 0.0;
    for (irr::s32 y = rect.UpperLeftCorner.Y; y < rect.LowerRightCorner.Y; ++y) {
        for (irr::s32 x = rect.UpperLeftCorner.X; x < rect.LowerRightCorner.X; ++x) {
            const irr::video::SColor c = image->getPixel(static_cast<irr::u32>(x), static_cast<irr::u32>(y));
            seen.insert(c.color & 0x00FFFFFF);
            const double light = (c.getRed() + c.getGreen() + c.getBlue()) / 3.0;
            sum += light;
            squares += light * light;
        }
    }
    Area area;
    const double count = static_cast<double>(rect.getArea());
    area.colours = seen.size();
    if (count > 0) {
        area.lightness = sum / count;
        area.spread = std::sqrt(std::max(0.0, squares / count - area.lightness * area.lightness));
    }
    return area;
}

bool report(const char* what, const recti& rect, const Area& area, bool pass) {
    std::printf("%-28s (%4d,%4d)-(%4d,%4d): %4zu colours, lightness %6.1f, spread %5.1f  %s\n", what,
                rect.UpperLeftCorner.X, rect.UpperLeftCorner.Y, rect.LowerRightCorner.X, rect.LowerRightCorner.Y,
                area.colours, area.lightness, area.spread, pass ? "ok" : "FAILED");
    return pass;
}

// The menu: a scene that is not one colour, and the login column's boxes
// and buttons as the skin draws them (their frames stand out of the scene).
bool checkMenu(irr::video::IImage* image) {
    const irr::core::dimension2d<irr::u32> size = image->getDimension();
    const int32_t w = static_cast<int32_t>(size.Width);
    const int32_t h = static_cast<int32_t>(size.Height);
    const Area whole = measure(image, recti(0, 0, w, h));
    bool pass = report("whole picture", recti(0, 0, w, h), whole, whole.colours > 200);
    for (const menumath::MenuElement& element : menumath::loginColumn(w, h)) {
        if (element.kind == menumath::ElementKind::BUTTON || element.kind == menumath::ElementKind::NAME_BOX ||
            element.kind == menumath::ElementKind::PASSWORD) {
            const Area area = measure(image, element.rect);
            pass = report(element.kind == menumath::ElementKind::BUTTON ? "button" : "edit box", element.rect, area,
                          area.colours >= 3 && area.spread > 4.0) &&
                   pass;
        }
    }
    return pass;
}

// The game: a scene that is not one colour, the centre cross at the centre
// and the lower panel's frame where the layout of this width puts it.
bool checkGame(irr::video::IImage* image) {
    const irr::core::dimension2d<irr::u32> size = image->getDimension();
    const int32_t w = static_cast<int32_t>(size.Width);
    const int32_t h = static_cast<int32_t>(size.Height);
    const hudmath::HudLayout& layout = hudmath::layoutForWidth(w);
    const Area whole = measure(image, recti(0, 0, w, h));
    bool pass = report("whole picture", recti(0, 0, w, h), whole, whole.colours > 200);
    const recti cross(w / 2 - 16, h / 2 - 16, w / 2 + 17, h / 2 + 17);
    const Area crossArea = measure(image, cross);
    pass = report("centre cross", cross, crossArea, crossArea.spread > 4.0) && pass;
    const irr::core::position2di bottom(w / 2, h);
    const recti panel = hudmath::panelArea(layout.panelFrame, bottom);
    const Area panelArea = measure(image, panel);
    pass = report("lower panel", panel, panelArea, panelArea.colours > 50 && panelArea.spread > 4.0) && pass;
    for (const hudmath::PanelRect* view : {&layout.torpedoView, &layout.radarImage, &layout.targetView}) {
        const recti rect = hudmath::panelArea(*view, bottom);
        const Area area = measure(image, rect);
        pass = report("panel view", rect, area, area.colours > 1) && pass;
    }
    return pass;
}

int check(const char* kind, const char* file) {
    ImageDevice images;
    irr::video::IImage* image = images.device->getVideoDriver()->createImageFromFile(file);
    if (image == nullptr) {
        std::fprintf(stderr, "check: cannot read %s\n", file);
        return 1;
    }
    const bool pass = std::strcmp(kind, "menu") == 0 ? checkMenu(image) : checkGame(image);
    image->drop();
    return pass ? 0 : 1;
}

int loginServer(const char* portFile, const char* secondsText) {
    nettest::LoopbackServer server;
    if (server.host == nullptr || server.port == 0) {
        std::fprintf(stderr, "login-server: no socket\n");
        return 1;
    }
    if (FILE* out = std::fopen(portFile, "w")) {
        std::fprintf(out, "%u\n", server.port);
        std::fclose(out);
    }
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(std::atoi(secondsText));
    size_t handled = 0;
    while (std::chrono::steady_clock::now() < end) {
        server.service();
        for (; handled < server.messages.size(); ++handled) {
            const nettest::Bytes& bytes = server.messages[handled].bytes;
            // The id as four little-endian bytes, then name and password,
            // each ended by a 0 byte.
            if (bytes.size() >= 4 && bytes[0] == ID_LOGIN && bytes[1] == 0 && bytes[2] == 0 && bytes[3] == 0) {
                const std::string rest(bytes.begin() + 4, bytes.end());
                const std::string name = rest.substr(0, rest.find('\0'));
                std::printf("login received: name '%s'\n", name.c_str());
                std::fflush(stdout);
                server.send({static_cast<unsigned char>(ID_LOGIN), 1});
            }
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return 0;
}

// Each frame's swap puts its picture into the window, which the damage
// extension reports; the gaps between reports (and from the start and to the
// end of the watch) are the frame times as the player sees them.
int frameGaps(const char* windowText, const char* secondsText, const char* limitText) {
    Display* display = XOpenDisplay(nullptr);
    if (display == nullptr) {
        std::fprintf(stderr, "frame-gaps: no display\n");
        return 1;
    }
    XSetErrorHandler(ignoreXError);
    int eventBase = 0;
    int errorBase = 0;
    if (!XDamageQueryExtension(display, &eventBase, &errorBase)) {
        std::fprintf(stderr, "frame-gaps: the display has no damage extension\n");
        XCloseDisplay(display);
        return 1;
    }
    const Window window = windowOf(windowText);
    const Damage damage = XDamageCreate(display, window, XDamageReportRawRectangles);
    XSync(display, False);
    using Clock = std::chrono::steady_clock;
    const Clock::time_point start = Clock::now();
    const Clock::time_point end = start + std::chrono::seconds(std::atoi(secondsText));
    const double limit = std::atof(limitText);
    Clock::time_point last = start;
    double longest = 0.0;
    double longestAt = 0.0;
    size_t reports = 0;
    const auto gap = [&](Clock::time_point now) {
        const double ms = std::chrono::duration<double, std::milli>(now - last).count();
        if (ms > longest) {
            longest = ms;
            longestAt = std::chrono::duration<double>(now - start).count();
        }
        last = now;
    };
    const int fd = ConnectionNumber(display);
    for (Clock::time_point now = start; now < end; now = Clock::now()) {
        if (XPending(display) == 0) {
            pollfd readable{fd, POLLIN, 0};
            poll(&readable, 1, static_cast<int>(std::chrono::ceil<std::chrono::milliseconds>(end - now).count()));
            continue;
        }
        XEvent event;
        XNextEvent(display, &event);
        if (event.type == eventBase + XDamageNotify) {
            ++reports;
            gap(Clock::now());
        }
    }
    gap(end);
    XDamageDestroy(display, damage);
    XCloseDisplay(display);
    const bool pass = reports > 0 && longest <= limit;
    std::printf("frame-gaps: %zu damage reports in %s s, longest gap %.0f ms ending at %.1f s (limit %.0f ms)  %s\n",
                reports, secondsText, longest, longestAt, limit, pass ? "ok" : "FAILED");
    return pass ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    const std::string command = argc > 1 ? argv[1] : "";
    if (command == "shot" && argc == 4) {
        return shot(argv[2], argv[3]);
    }
    if (command == "close" && argc == 3) {
        return closeWindow(argv[2]);
    }
    if (command == "check" && argc == 4) {
        return check(argv[2], argv[3]);
    }
    if (command == "login-server" && argc == 4) {
        return loginServer(argv[2], argv[3]);
    }
    if (command == "frame-gaps" && argc == 5) {
        return frameGaps(argv[2], argv[3], argv[4]);
    }
    std::fprintf(stderr, "usage: %s shot|close|check|login-server|frame-gaps ...\n", argv[0]);
    return 2;
}

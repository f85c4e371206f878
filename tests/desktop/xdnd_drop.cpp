// A drag source of our own for checking drops from the desktop: another X
// client that drags a file onto whatever window is under a point, through
// the X server, with the drag-and-drop protocol every X desktop speaks
// (XdndEnter, XdndPosition, XdndDrop, the data served as text/uri-list from
// the XdndSelection). It drives the protocol itself instead of faking a mouse
// drag, so nothing depends on pointer timing; the target cannot tell the
// difference, as it only ever sees these messages and the selection.
//
//   qel_xdnd_drop drop FILE X Y
//       Drags FILE to the drop-aware window under root point (X, Y). Prints
//       the target window's id; exits 0 once the target has accepted the
//       drop and reported it finished, 1 when it refused or did not answer.
//   qel_xdnd_drop canvas WINDOW none|star|heart
//       Looks for the demo canvas in the window's pixels: the demo backdrop
//       with nothing on it, or with the demo star or heart at the sprite's
//       place. Exits 0 and prints where it is when every pixel matches.
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <iostream>
#include <string>
#include <vector>

#include "demo/DemoFiles.h"
#include "tests/support/BmpFactory.h"
#include "viewer/Scene.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr long kOurXdndVersion = 5;
constexpr auto kAnswerTimeout = std::chrono::seconds(10);

// A window can go away between finding it and asking about it; the drop
// then fails on its own timeout instead of the X library ending the program.
int ignoreXErrors(Display*, XErrorEvent*) { return 0; }

Atom atom(Display* display, const char* name) { return XInternAtom(display, name, False); }

// file:// URI of an absolute path, with every byte outside the unreserved
// set and '/' percent-encoded.
std::string fileUri(const std::string& path) {
    static const char* hex = "0123456789ABCDEF";
    std::string uri = "file://";
    for (unsigned char c : path) {
        if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' ||
            c == '.' || c == '_' || c == '~' || c == '/') {
            uri += static_cast<char>(c);
        } else {
            uri += '%';
            uri += hex[c >> 4];
            uri += hex[c & 15];
        }
    }
    return uri;
}

long xdndAwareVersion(Display* display, Window window) {
    Atom type = None;
    int format = 0;
    unsigned long count = 0, after = 0;
    unsigned char* data = nullptr;
    long version = 0;
    if (XGetWindowProperty(display, window, atom(display, "XdndAware"), 0, 1, False, AnyPropertyType, &type,
                           &format, &count, &after, &data) == Success &&
        data) {
        if (type == XA_ATOM && format == 32 && count == 1) version = reinterpret_cast<long*>(data)[0];
        XFree(data);
    }
    return version;
}

// Walks down from the root to the outermost drop-aware window under the
// point, as a desktop drag source does while the pointer moves.
Window dropTargetAt(Display* display, int x, int y, long& version) {
    Window current = DefaultRootWindow(display);
    for (;;) {
        Window child = None;
        int cx = 0, cy = 0;
        if (!XTranslateCoordinates(display, DefaultRootWindow(display), current, x, y, &cx, &cy, &child) ||
            child == None) {
            return None;
        }
        version = xdndAwareVersion(display, child);
        if (version > 0) return child;
        current = child;
    }
}

// A server timestamp: what the selection is owned and the drop is dated by.
Time serverTime(Display* display, Window window) {
    const Atom stamp = atom(display, "QEL_XDND_TIMESTAMP");
    XChangeProperty(display, window, stamp, XA_STRING, 8, PropModeAppend, nullptr, 0);
    XEvent event;
    XWindowEvent(display, window, PropertyChangeMask, &event);
    return event.xproperty.time;
}

void sendXdnd(Display* display, Window target, Atom type, const long (&data)[5]) {
    XEvent event{};
    event.xclient.type = ClientMessage;
    event.xclient.display = display;
    event.xclient.window = target;
    event.xclient.message_type = type;
    event.xclient.format = 32;
    for (int i = 0; i < 5; ++i) event.xclient.data.l[i] = data[i];
    XSendEvent(display, target, False, NoEventMask, &event);
    XFlush(display);
}

// Hands the file's URI (or the list of what we offer) to whoever asks for
// the XdndSelection: the target asks while the drag is on, at the latest
// when it takes the drop.
void answerSelectionRequest(Display* display, const XSelectionRequestEvent& request, const std::string& uriList) {
    const Atom uriListType = atom(display, "text/uri-list");
    const Atom targets = atom(display, "TARGETS");
    XEvent reply{};
    reply.xselection.type = SelectionNotify;
    reply.xselection.display = display;
    reply.xselection.requestor = request.requestor;
    reply.xselection.selection = request.selection;
    reply.xselection.target = request.target;
    reply.xselection.time = request.time;
    const Atom property = request.property != None ? request.property : request.target;
    reply.xselection.property = property;
    if (request.target == uriListType) {
        XChangeProperty(display, request.requestor, property, uriListType, 8, PropModeReplace,
                        reinterpret_cast<const unsigned char*>(uriList.data()), static_cast<int>(uriList.size()));
    } else if (request.target == targets) {
        const Atom offered[] = {targets, uriListType};
        XChangeProperty(display, request.requestor, property, XA_ATOM, 32, PropModeReplace,
                        reinterpret_cast<const unsigned char*>(offered), 2);
    } else {
        reply.xselection.property = None;
    }
    XSendEvent(display, request.requestor, False, NoEventMask, &reply);
    XFlush(display);
}

// Serves the selection until a client message of the given type comes back
// from the target, or the time is up.
bool awaitReply(Display* display, Window target, Atom type, const std::string& uriList, XClientMessageEvent& out) {
    const auto deadline = Clock::now() + kAnswerTimeout;
    while (Clock::now() < deadline) {
        while (XPending(display) > 0) {
            XEvent event;
            XNextEvent(display, &event);
            if (event.type == SelectionRequest) {
                answerSelectionRequest(display, event.xselectionrequest, uriList);
            } else if (event.type == ClientMessage && event.xclient.message_type == type &&
                       static_cast<Window>(event.xclient.data.l[0]) == target) {
                out = event.xclient;
                return true;
            }
        }
        struct timespec pause = {0, 5 * 1000 * 1000};
        nanosleep(&pause, nullptr);
    }
    return false;
}

int drop(Display* display, const std::string& file, int x, int y) {
    std::error_code ec;
    const std::filesystem::path path = std::filesystem::absolute(file, ec);
    if (ec || !std::filesystem::exists(path)) {
        std::cerr << "no such file: " << file << "\n";
        return 2;
    }
    const std::string uriList = fileUri(path.lexically_normal().string()) + "\r\n";

    long targetVersion = 0;
    const Window target = dropTargetAt(display, x, y, targetVersion);
    if (target == None) {
        std::cerr << "no drop-aware window at " << x << "," << y << "\n";
        return 1;
    }
    const long version = targetVersion < kOurXdndVersion ? targetVersion : kOurXdndVersion;
    std::printf("0x%lx\n", static_cast<unsigned long>(target));
    std::fflush(stdout);

    const Window source = XCreateSimpleWindow(display, DefaultRootWindow(display), -10, -10, 1, 1, 0, 0, 0);
    XSelectInput(display, source, PropertyChangeMask);
    const Atom dndSelection = atom(display, "XdndSelection");
    const Time time = serverTime(display, source);
    XSetSelectionOwner(display, dndSelection, source, time);
    if (XGetSelectionOwner(display, dndSelection) != source) {
        std::cerr << "cant own the drag selection\n";
        return 1;
    }
    const long actionCopy = static_cast<long>(atom(display, "XdndActionCopy"));
    const long src = static_cast<long>(source);
    // The pointer goes where the drop happens, as it would in a real drag.
    XWarpPointer(display, None, DefaultRootWindow(display), 0, 0, 0, 0, x, y);

    sendXdnd(display, target, atom(display, "XdndEnter"),
             {src, version << 24, static_cast<long>(atom(display, "text/uri-list")), 0, 0});
    sendXdnd(display, target, atom(display, "XdndPosition"),
             {src, 0, (static_cast<long>(x) << 16) | (y & 0xFFFF), static_cast<long>(time), actionCopy});
    XClientMessageEvent status{};
    if (!awaitReply(display, target, atom(display, "XdndStatus"), uriList, status)) {
        std::cerr << "the target did not answer the drag\n";
        return 1;
    }
    if (!(status.data.l[1] & 1)) {
        sendXdnd(display, target, atom(display, "XdndLeave"), {src, 0, 0, 0, 0});
        std::cerr << "the target refused the drop\n";
        return 1;
    }
    sendXdnd(display, target, atom(display, "XdndDrop"), {src, 0, static_cast<long>(time), 0, 0});
    XClientMessageEvent finished{};
    if (!awaitReply(display, target, atom(display, "XdndFinished"), uriList, finished)) {
        std::cerr << "the target did not finish the drop\n";
        return 1;
    }
    // Before version 5 the finish carries no outcome; from 5 on it says
    // whether the target took the data.
    if (version >= 5 && !(finished.data.l[1] & 1)) {
        std::cerr << "the target reports the drop not taken\n";
        return 1;
    }
    XSetSelectionOwner(display, dndSelection, None, time);
    XDestroyWindow(display, source);
    XSync(display, False);
    return 0;
}

// The canvas the viewer should show: the demo backdrop with the sprite laid
// over it, the key colour left out.
std::vector<std::uint32_t> expectedCanvas(const std::function<std::uint32_t(int, int)>& sprite) {
    std::vector<std::uint32_t> canvas(static_cast<std::size_t>(qel::kCanvasWidth) * qel::kCanvasHeight);
    for (int y = 0; y < qel::kCanvasHeight; ++y) {
        for (int x = 0; x < qel::kCanvasWidth; ++x) {
            canvas[static_cast<std::size_t>(y) * qel::kCanvasWidth + x] = qel::testing::sampleBackdropColour(x, y);
        }
    }
    if (!sprite) return canvas;
    for (int y = 0; y < qel::kSpriteSize; ++y) {
        for (int x = 0; x < qel::kSpriteSize; ++x) {
            const std::uint32_t c = sprite(x, y);
            if (c == 0xFF00FF) continue;
            canvas[static_cast<std::size_t>(qel::kSpriteY + y) * qel::kCanvasWidth + qel::kSpriteX + x] = c;
        }
    }
    return canvas;
}

int findCanvas(Display* display, Window window, const std::string& which) {
    std::function<std::uint32_t(int, int)> sprite;
    if (which == "star") {
        sprite = qel::testing::sampleSpriteColour;
    } else if (which == "heart") {
        sprite = qel::demo::heartColour;
    } else if (which != "none") {
        std::cerr << "unknown sprite: " << which << "\n";
        return 2;
    }
    const std::vector<std::uint32_t> want = expectedCanvas(sprite);

    XWindowAttributes attributes;
    if (!XGetWindowAttributes(display, window, &attributes)) {
        std::cerr << "no such window\n";
        return 1;
    }
    XImage* image = XGetImage(display, window, 0, 0, static_cast<unsigned>(attributes.width),
                              static_cast<unsigned>(attributes.height), AllPlanes, ZPixmap);
    if (!image) {
        std::cerr << "cant read the window's pixels\n";
        return 1;
    }
    // Pixels as 0xRRGGBB, whatever the visual's masks.
    auto channel = [](unsigned long pixel, unsigned long mask) {
        if (!mask) return 0u;
        while (!(mask & 1)) {
            mask >>= 1;
            pixel >>= 1;
        }
        return static_cast<unsigned>((pixel & mask) * 255 / mask);
    };
    auto rgb = [&](int x, int y) {
        const unsigned long p = XGetPixel(image, x, y);
        return (channel(p, image->red_mask) << 16) | (channel(p, image->green_mask) << 8) |
               channel(p, image->blue_mask);
    };
    int best = -1, bestX = 0, bestY = 0;
    for (int oy = 0; oy + qel::kCanvasHeight <= image->height; ++oy) {
        for (int ox = 0; ox + qel::kCanvasWidth <= image->width; ++ox) {
            int same = 0;
            for (int y = 0; y < qel::kCanvasHeight; ++y) {
                for (int x = 0; x < qel::kCanvasWidth; ++x) {
                    same += rgb(ox + x, oy + y) == want[static_cast<std::size_t>(y) * qel::kCanvasWidth + x];
                }
            }
            if (same > best) {
                best = same;
                bestX = ox;
                bestY = oy;
            }
        }
    }
    XDestroyImage(image);
    const int all = qel::kCanvasWidth * qel::kCanvasHeight;
    if (best == all) {
        std::printf("canvas with %s at %d,%d of the window\n", which.c_str(), bestX, bestY);
        return 0;
    }
    std::cerr << "canvas with " << which << " not shown; best match " << (best < 0 ? 0 : best) << " of " << all
              << " pixels at " << bestX << "," << bestY << "\n";
    return 1;
}

int usage() {
    std::cerr << "usage: qel_xdnd_drop drop FILE X Y\n"
                 "       qel_xdnd_drop canvas WINDOW none|star|heart\n";
    return 2;
}

}  // namespace

int main(int argc, char* argv[]) {
    if (argc != 5 && argc != 4) return usage();
    const std::string command = argv[1];
    if (!((command == "drop" && argc == 5) || (command == "canvas" && argc == 4))) return usage();
    Display* display = XOpenDisplay(nullptr);
    if (!display) {
        std::cerr << "cant open the display\n";
        return 2;
    }
    XSetErrorHandler(ignoreXErrors);
    int status;
    if (command == "drop") {
        status = drop(display, argv[2], std::atoi(argv[3]), std::atoi(argv[4]));
    } else {
        status = findCanvas(display, static_cast<Window>(std::strtoul(argv[2], nullptr, 0)), argv[3]);
    }
    XCloseDisplay(display);
    return status;
}

#include "viewer/win32/ViewerWindowWin32.h"

#include <shellapi.h>

#include <algorithm>
#include <climits>
#include <cstdint>
#include <exception>
#include <new>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "files/FileIo.h"
#include "imaging/Picture.h"
#include "resources/win32/QelViewerRes.h"
#include "viewer/Scene.h"
#include "viewer/Viewer.h"
#include "viewer/ViewerWindow.h"

#ifndef WM_DPICHANGED
#define WM_DPICHANGED 0x02E0
#endif

namespace qel::win32 {

static_assert(IDM_QEL_EXTRACT == kExtractCommand && IDM_QEL_EXIT == kExitCommand,
              "the menu resource and the core must agree on the command ids");

namespace {

// The window is a Unicode window throughout (class, procedure, message
// loop): text set on an ANSI window would pass through the ANSI code page
// and lose every character outside it. The core speaks UTF-8; the
// conversion happens here and in the file layer, nowhere else.
constexpr const wchar_t* kWideClassName = L"QelView";
constexpr const wchar_t* kWideTitle = L"QelViewer";
// Posted by openFromCommandLine: open the pending file now.
constexpr UINT kOpenPendingMessage = WM_APP + 1;

class Win32Window final : public ViewerWindow {
public:
    explicit Win32Window(HWND window) : window_(window) {}

    void setTitle(const std::string& title) override { SetWindowTextW(window_, utf8ToWide(title).c_str()); }

    void setCommandEnabled(int commandId, bool enabled) override {
        EnableMenuItem(GetMenu(window_), static_cast<UINT>(commandId),
                       MF_BYCOMMAND | (enabled ? MF_ENABLED : MF_GRAYED));
        // The commands sit on the menu bar itself, which is not redrawn on
        // its own after a state change.
        DrawMenuBar(window_);
    }

    void repaintNow() override {
        InvalidateRect(window_, nullptr, FALSE);
        UpdateWindow(window_);
    }

    void quit(int status) override { PostQuitMessage(status); }

    void acceptDrops() override { DragAcceptFiles(window_, TRUE); }

private:
    HWND window_;
};

// What one window owns: the ViewerWindow the core talks to and the core.
struct ViewerFrame {
    explicit ViewerFrame(HWND window) : window(window), viewer(this->window) {}

    Win32Window window;
    Viewer viewer;
    std::string pendingFile;  // from the command line, until the loop opens it
    int scale = 1;            // canvasScaleForDpi of the window's screen
    SIZE outer{0, 0};         // the window's size that fits the canvas, once known
};

ViewerFrame* frameOf(HWND window) {
    return reinterpret_cast<ViewerFrame*>(GetWindowLongPtrW(window, GWLP_USERDATA));
}

void paint(HWND window, ViewerFrame& frame) {
    frame.viewer.composeScene();
    PAINTSTRUCT ps;
    HDC dc = BeginPaint(window, &ps);
    if (dc) {
        present(dc, frame.viewer.scene().canvas, 0, 0, frame.scale);
        EndPaint(window, &ps);
    }
}

// A user32 function of a later Windows than the oldest the program runs on,
// or null where there is none.
template <typename Function>
Function laterUser32(const char* name) {
    const HMODULE user32 = GetModuleHandleW(L"user32.dll");
    return user32 ? reinterpret_cast<Function>(reinterpret_cast<void (*)()>(GetProcAddress(user32, name))) : nullptr;
}

// The DPI of the window's screen (Windows 10 1607 on), or the system's.
UINT windowDpi(HWND window) {
    static const auto getDpiForWindow = laterUser32<UINT(WINAPI*)(HWND)>("GetDpiForWindow");
    if (getDpiForWindow) {
        const UINT dpi = getDpiForWindow(window);
        if (dpi > 0) return dpi;
    }
    HDC dc = GetDC(window);
    const int dpi = dc ? GetDeviceCaps(dc, LOGPIXELSY) : 0;
    if (dc) ReleaseDC(window, dc);
    return dpi > 0 ? static_cast<UINT>(dpi) : 96;
}

// Sizes the window so that its client area below the menu bar is the canvas
// at the scale of a screen of dpi, keeping its top-left corner, or moving it
// to the one Windows suggests on a change of screen.
void fitToCanvas(HWND window, ViewerFrame& frame, UINT dpi, const RECT* suggested) {
    // No screen is 32 times as dense as 96 dpi; a larger DPI is nonsense, and
    // the window's size would overflow.
    frame.scale = canvasScaleForDpi(static_cast<int>(std::min<UINT>(dpi, 32 * 96)));
    const int width = kCanvasWidth * frame.scale;
    const int height = kCanvasHeight * frame.scale;
    const auto style = static_cast<DWORD>(GetWindowLongW(window, GWL_STYLE));
    const auto exStyle = static_cast<DWORD>(GetWindowLongW(window, GWL_EXSTYLE));
    static const auto adjustForDpi =
        laterUser32<BOOL(WINAPI*)(LPRECT, DWORD, BOOL, DWORD, UINT)>("AdjustWindowRectExForDpi");
    RECT outer{0, 0, width, height};
    if (!(adjustForDpi && adjustForDpi(&outer, style, TRUE, exStyle, dpi))) {
        outer = RECT{0, 0, width, height};
        AdjustWindowRectEx(&outer, style, TRUE, exStyle);
    }
    RECT now{};
    GetWindowRect(window, &now);
    const POINT at = suggested ? POINT{suggested->left, suggested->top} : POINT{now.left, now.top};
    frame.outer = {outer.right - outer.left, outer.bottom - outer.top};
    SetWindowPos(window, nullptr, at.x, at.y, frame.outer.cx, frame.outer.cy, SWP_NOZORDER | SWP_NOACTIVATE);
    // The calculation takes the menu bar as one line; one that wraps, or a
    // frame the system draws otherwise, shows in the client area it leaves.
    RECT client{};
    if (GetClientRect(window, &client) && (client.right != width || client.bottom != height)) {
        frame.outer.cx += width - client.right;
        frame.outer.cy += height - client.bottom;
        SetWindowPos(window, nullptr, 0, 0, frame.outer.cx, frame.outer.cy, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    }
}

// Takes the first dropped path whole, however long it is and whatever
// characters it holds, and hands it to the viewer in UTF-8 once the drop
// handle is released.
void dropFiles(HDROP drop, Viewer& viewer) {
    std::wstring path;
    const UINT length = DragQueryFileW(drop, 0, nullptr, 0);
    if (length > 0) {
        std::vector<wchar_t> buffer(static_cast<std::size_t>(length) + 1, L'\0');
        const UINT copied = DragQueryFileW(drop, 0, buffer.data(), length + 1);
        path.assign(buffer.data(), copied <= length ? copied : length);
    }
    DragFinish(drop);
    if (!path.empty()) viewer.onDropFiles(wideToUtf8(path));
}

}  // namespace

bool registerViewerClass(HINSTANCE instance) {
    WNDCLASSW windowClass{};
    windowClass.style = 0;
    windowClass.lpfnWndProc = viewerWindowProc;
    windowClass.cbClsExtra = 0;
    windowClass.cbWndExtra = 0;
    windowClass.hInstance = instance;
    windowClass.hIcon = LoadIconW(instance, MAKEINTRESOURCEW(IDI_QEL_ICON));
    // IDC_ARROW is an integer resource id, whichever character width it is spelt in.
    windowClass.hCursor = LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_ARROW));
    windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
    windowClass.lpszMenuName = MAKEINTRESOURCEW(IDR_QEL_MENU);
    windowClass.lpszClassName = kWideClassName;
    return RegisterClassW(&windowClass) != 0;
}

HWND createViewerWindow(HINSTANCE instance) {
    HWND window = CreateWindowExW(0, kWideClassName, kWideTitle, WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX,
                                  CW_USEDEFAULT, CW_USEDEFAULT, kCanvasWidth, kCanvasHeight, nullptr, nullptr,
                                  instance, nullptr);
    ViewerFrame* frame = window ? frameOf(window) : nullptr;
    if (frame) fitToCanvas(window, *frame, windowDpi(window), nullptr);
    return window;
}

std::vector<std::string> commandLineArguments(const wchar_t* commandLine) {
    std::vector<std::string> arguments;
    // An empty line would make CommandLineToArgvW name this program instead.
    if (!commandLine || !*commandLine) return arguments;
    int count = 0;
    LPWSTR* split = CommandLineToArgvW(commandLine, &count);
    if (!split) return arguments;
    for (int i = 1; i < count; ++i) arguments.push_back(wideToUtf8(split[i]));
    LocalFree(split);
    return arguments;
}

void openFromCommandLine(HWND window, const std::vector<std::string>& arguments) {
    ViewerFrame* frame = frameOf(window);
    const std::optional<std::size_t> at = fileArgumentIndex(arguments);
    if (!frame || !at) return;
    frame->pendingFile = arguments[*at];
    PostMessageW(window, kOpenPendingMessage, 0, 0);
}

int runMessageLoop() {
    MSG message{};
    for (;;) {
        const BOOL got = GetMessageW(&message, nullptr, 0, 0);
        if (got == 0) break;
        if (got == -1) return 1;  // the queue itself failed; nothing more will come
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
    return static_cast<int>(message.wParam);
}

LRESULT CALLBACK viewerWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_NCCREATE) {
        auto* frame = new (std::nothrow) ViewerFrame(window);
        if (!frame) return FALSE;  // CreateWindowExW then fails
        SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(frame));
        return DefWindowProcW(window, message, wParam, lParam);
    }
    ViewerFrame* frame = frameOf(window);
    // Messages before WM_NCCREATE (WM_GETMINMAXINFO) and after WM_NCDESTROY.
    if (!frame) return DefWindowProcW(window, message, wParam, lParam);

    Viewer& viewer = frame->viewer;
    switch (message) {
    case WM_CREATE:
        viewer.initScene();
        return 0;
    case WM_DESTROY:
        viewer.onDestroy();
        return 0;
    case WM_NCDESTROY:
        SetWindowLongPtrW(window, GWLP_USERDATA, 0);
        delete frame;
        return DefWindowProcW(window, message, wParam, lParam);
    case WM_PAINT:
        paint(window, *frame);
        return 0;
    case WM_GETMINMAXINFO:
        // The system's smallest window (room for the caption's buttons) can
        // be wider than the canvas at a small scale, as at 125%; the window
        // is the canvas's size, not the system's.
        if (frame->outer.cx > 0) reinterpret_cast<MINMAXINFO*>(lParam)->ptMinTrackSize = {frame->outer.cx, frame->outer.cy};
        return 0;
    case WM_DPICHANGED:
        // The window moved to a screen of another scale, or the scale changed.
        fitToCanvas(window, *frame, LOWORD(wParam), reinterpret_cast<const RECT*>(lParam));
        InvalidateRect(window, nullptr, FALSE);
        return 0;
    case WM_KEYDOWN:
        if (wParam == VK_ESCAPE) viewer.onEscape();
        return 0;
    case WM_COMMAND:
        viewer.onCommand(LOWORD(wParam));
        return 0;
    case WM_TIMER:
    case WM_LBUTTONDOWN:
    case WM_MBUTTONDBLCLK:
        return 0;
    case WM_DROPFILES:
        dropFiles(reinterpret_cast<HDROP>(wParam), viewer);
        return 0;
    case kOpenPendingMessage:
        if (!frame->pendingFile.empty()) viewer.onDropFiles(std::exchange(frame->pendingFile, std::string()));
        return 0;
    default:
        return DefWindowProcW(window, message, wParam, lParam);
    }
}

void present(HDC dc, const Raster& raster, int x, int y, int scale) {
    if (!raster.allocated() || raster.width() <= 0 || raster.height() <= 0 || scale < 1 ||
        raster.width() > INT_MAX / scale || raster.height() > INT_MAX / scale) {
        return;
    }
    // The picture at the scale, each pixel a scale x scale block, as a
    // top-down 32-bit DIB: rows of 32-bit pixels need no padding, and the
    // canvas's own header (whatever a file said) plays no part.
    const int width = raster.width() * scale;
    const int height = raster.height() * scale;
    std::vector<std::uint8_t> pixels;
    try {
        pixels.resize(static_cast<std::size_t>(width) * static_cast<std::size_t>(height) * 4);
    } catch (const std::exception&) {
        return;  // no memory for it: nothing drawn this time; the next paint tries again
    }
    PixelTarget target;
    target.pixels = pixels.data();
    target.stride = static_cast<std::size_t>(width) * 4;
    target.size = {width, height};
    target.order = ChannelOrder::bgra;
    target.key = KeyPixel::opaque;
    if (!convertPicture(raster, target)) return;
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = -height;  // top-down
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    SetDIBitsToDevice(dc, x, y, static_cast<DWORD>(width), static_cast<DWORD>(height), 0, 0, 0,
                      static_cast<UINT>(height), pixels.data(), &info, DIB_RGB_COLORS);
}

}  // namespace qel::win32

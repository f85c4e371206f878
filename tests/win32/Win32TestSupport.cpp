#include "tests/win32/Win32TestSupport.h"

#include <shlobj.h>

#include <cstring>

#include "files/FileIo.h"

namespace qel::testing {

HDROP makeDrop(const std::vector<std::string>& paths) {
    std::vector<std::wstring> wide;
    std::size_t listChars = 1;  // the NUL that ends the list
    for (const std::string& path : paths) {
        wide.push_back(qel::utf8ToWide(path));
        listChars += wide.back().size() + 1;
    }
    HGLOBAL memory = GlobalAlloc(GHND, sizeof(DROPFILES) + listChars * sizeof(wchar_t));
    if (!memory) return nullptr;
    auto* bytes = static_cast<char*>(GlobalLock(memory));
    if (!bytes) {
        GlobalFree(memory);
        return nullptr;
    }
    auto* header = reinterpret_cast<DROPFILES*>(bytes);
    header->pFiles = sizeof(DROPFILES);
    header->fWide = TRUE;
    auto* out = reinterpret_cast<wchar_t*>(bytes + sizeof(DROPFILES));
    for (const std::wstring& path : wide) {
        std::memcpy(out, path.c_str(), (path.size() + 1) * sizeof(wchar_t));
        out += path.size() + 1;
    }
    // GHND zero-fills, so the list's final NUL is already there.
    GlobalUnlock(memory);
    return static_cast<HDROP>(memory);
}

void pumpMessages() {
    // A quit request comes out of the queue whatever the message filter says,
    // so it is taken like the rest and asked for again once the queue is empty.
    std::optional<int> quit;
    MSG message;
    while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
        if (message.message == WM_QUIT) {
            quit = static_cast<int>(message.wParam);
            continue;
        }
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
    if (quit) PostQuitMessage(*quit);
}

std::optional<int> takeQuit() {
    MSG message;
    if (PeekMessageA(&message, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE)) {
        return static_cast<int>(message.wParam);
    }
    return std::nullopt;
}

std::string windowTitle(HWND window) {
    const int length = GetWindowTextLengthW(window);
    std::wstring title(static_cast<std::size_t>(length) + 1, L'\0');
    const int copied = GetWindowTextW(window, title.data(), length + 1);
    title.resize(static_cast<std::size_t>(copied > 0 ? copied : 0));
    return qel::wideToUtf8(title);
}

std::string programDirectory() {
    std::vector<char> buffer(MAX_PATH);
    for (;;) {
        const DWORD length = GetModuleFileNameA(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
        if (length == 0) return std::string();
        if (length < buffer.size()) {
            std::string path(buffer.data(), length);
            const std::size_t slash = path.find_last_of("\\/");
            return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
        }
        buffer.resize(buffer.size() * 2);
    }
}

std::wstring quotedCommandLine(const std::vector<std::wstring>& words) {
    std::wstring line;
    for (const std::wstring& word : words) {
        if (!line.empty()) line += L' ';
        line += L'"';
        std::size_t backslashes = 0;
        for (const wchar_t c : word) {
            if (c == L'\\') {
                ++backslashes;
                continue;
            }
            line.append(c == L'"' ? backslashes * 2 + 1 : backslashes, L'\\');
            backslashes = 0;
            line += c;
        }
        line.append(backslashes * 2, L'\\');
        line += L'"';
    }
    return line;
}

}  // namespace qel::testing

#include "tools/WinConsole.h"

#ifdef _WIN32

#include <windows.h>

#include <algorithm>
#include <cerrno>
#include <climits>

namespace qel {

namespace {

std::string toUtf8(const wchar_t* text) {
    const int size = WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
    if (size <= 1) return std::string();
    std::string out(static_cast<std::size_t>(size), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text, -1, &out[0], size, nullptr, nullptr);
    out.resize(static_cast<std::size_t>(size - 1));  // the terminator
    return out;
}

// The length of the longest prefix of data that ends on a whole UTF-8
// sequence. Only a lead byte near the end, still waiting for its
// continuation bytes, is cut off; malformed bytes go through and become
// U+FFFD in the conversion.
std::size_t completePrefix(const char* data, std::size_t size) {
    for (std::size_t back = 1; back <= 3 && back <= size; ++back) {
        const auto byte = static_cast<unsigned char>(data[size - back]);
        if ((byte & 0xC0) == 0x80) continue;  // a continuation byte: look further back
        std::size_t needed = 1;
        if ((byte & 0xE0) == 0xC0) needed = 2;
        else if ((byte & 0xF0) == 0xE0) needed = 3;
        else if ((byte & 0xF8) == 0xF0) needed = 4;
        return needed > back ? size - back : size;
    }
    return size;
}

// Leaves the reason for a failed write in errno, as a failed write on Linux
// does, so that whoever reports it finds the same words on both systems.
bool failWithErrno() {
    switch (GetLastError()) {
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL: errno = ENOSPC; break;
    case ERROR_BROKEN_PIPE:
    case ERROR_NO_DATA: errno = EPIPE; break;
    case ERROR_INVALID_HANDLE: errno = EBADF; break;
    default: errno = EIO; break;
    }
    return false;
}

}  // namespace

std::vector<std::string> utf8Arguments(int argc, wchar_t** argv) {
    std::vector<std::string> args;
    for (int i = 1; i < argc; ++i) args.push_back(toUtf8(argv[i]));
    return args;
}

StandardHandleBuffer::StandardHandleBuffer(unsigned long which) : handle_(GetStdHandle(which)) {
    DWORD mode = 0;
    console_ = handle_ != nullptr && handle_ != INVALID_HANDLE_VALUE && GetConsoleMode(handle_, &mode) != 0;
    setp(buffer_, buffer_ + sizeof buffer_);
}

StandardHandleBuffer::~StandardHandleBuffer() { drain(true); }

int StandardHandleBuffer::overflow(int c) {
    if (!drain(false)) return traits_type::eof();
    if (traits_type::eq_int_type(c, traits_type::eof())) return traits_type::not_eof(c);
    *pptr() = traits_type::to_char_type(c);
    pbump(1);
    return c;
}

int StandardHandleBuffer::sync() { return drain(false) ? 0 : -1; }

bool StandardHandleBuffer::drain(bool final) {
    const std::size_t pending = static_cast<std::size_t>(pptr() - pbase());
    const std::size_t ready = final || !console_ ? pending : completePrefix(pbase(), pending);
    bool ok = error_ == 0;
    if (ok && ready > 0) ok = console_ ? writeConsole(pbase(), ready) : writeBytes(pbase(), ready);
    if (!ok) {
        // Once a write has failed, later text is dropped rather than written
        // out of order; the stream reports the failure.
        if (error_ == 0) error_ = errno != 0 ? errno : EIO;
        setp(buffer_, buffer_ + sizeof buffer_);
        return false;
    }
    std::copy(pbase() + ready, pptr(), buffer_);
    setp(buffer_, buffer_ + sizeof buffer_);
    pbump(static_cast<int>(pending - ready));
    return true;
}

bool StandardHandleBuffer::writeConsole(const char* data, std::size_t size) {
    const int length = MultiByteToWideChar(CP_UTF8, 0, data, static_cast<int>(size), nullptr, 0);
    if (length <= 0) {
        errno = EILSEQ;
        return false;
    }
    std::wstring wide(static_cast<std::size_t>(length), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, data, static_cast<int>(size), &wide[0], length);
    const wchar_t* next = wide.data();
    DWORD left = static_cast<DWORD>(wide.size());
    while (left > 0) {
        DWORD written = 0;
        if (!WriteConsoleW(handle_, next, left, &written, nullptr) || written == 0) return failWithErrno();
        next += written;
        left -= written;
    }
    return true;
}

bool StandardHandleBuffer::writeBytes(const char* data, std::size_t size) {
    while (size > 0) {
        DWORD written = 0;
        const DWORD piece = static_cast<DWORD>(std::min<std::size_t>(size, INT_MAX));
        if (!WriteFile(handle_, data, piece, &written, nullptr) || written == 0) return failWithErrno();
        data += written;
        size -= written;
    }
    return true;
}

}  // namespace qel

#endif

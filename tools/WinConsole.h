// The Windows edge of qel: the command line as UTF-8 and the standard streams
// written as a Windows user expects them. A console gets the text through
// WriteConsoleW, so every character of a name shows whatever the console's
// code page; a file or a pipe gets the UTF-8 bytes themselves, exactly what
// the Linux program writes.
#pragma once

#ifdef _WIN32

#include <cstddef>
#include <ostream>
#include <streambuf>
#include <string>
#include <vector>

namespace qel {

// The program's arguments from the wide-character command line, in UTF-8,
// without the program name.
std::vector<std::string> utf8Arguments(int argc, wchar_t** argv);

// One standard handle as a stream buffer. Text is kept until a flush (or a
// full buffer), then written whole; a UTF-8 sequence cut by a full buffer is
// held back until it is complete, so a console never shows half a character.
class StandardHandleBuffer : public std::streambuf {
public:
    // which: STD_OUTPUT_HANDLE or STD_ERROR_HANDLE.
    explicit StandardHandleBuffer(unsigned long which);
    ~StandardHandleBuffer() override;
    StandardHandleBuffer(const StandardHandleBuffer&) = delete;
    StandardHandleBuffer& operator=(const StandardHandleBuffer&) = delete;

    bool isConsole() const { return console_; }
    // Why a write failed, as an errno value; 0 while none has.
    int error() const { return error_; }

protected:
    int overflow(int c) override;
    int sync() override;

private:
    // Writes what is buffered; with final, also an incomplete sequence.
    bool drain(bool final);
    bool writeConsole(const char* data, std::size_t size);
    bool writeBytes(const char* data, std::size_t size);

    void* handle_;
    bool console_ = false;
    int error_ = 0;
    char buffer_[4096];
};

class StandardHandleStream : public std::ostream {
public:
    explicit StandardHandleStream(unsigned long which) : std::ostream(nullptr), buffer_(which) { rdbuf(&buffer_); }
    bool isConsole() const { return buffer_.isConsole(); }
    int error() const { return buffer_.error(); }

private:
    StandardHandleBuffer buffer_;
};

}  // namespace qel

#endif

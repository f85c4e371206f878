// qel: the command-line companion of the viewer. See tools/Cli.h.
#include <iostream>
#include <string>
#include <vector>

#include "tools/Cli.h"

#ifdef _WIN32
#include <windows.h>

#include "tools/WinConsole.h"

// The wide-character entry point: the arguments arrive in UTF-16 whatever
// the system's code page, so every file name reaches the program whole.
int wmain(int argc, wchar_t** argv) {
    const std::vector<std::string> args = qel::utf8Arguments(argc, argv);
    qel::StandardHandleStream out(STD_OUTPUT_HANDLE);
    qel::StandardHandleStream err(STD_ERROR_HANDLE);
    qel::CliContext context;
    context.errIsTerminal = err.isConsole();
    context.outIsTerminal = out.isConsole();
    context.outputError = [&out] { return out.error(); };
    return qel::runQel(args, out, err, context);
}

#else
#include <cerrno>
#include <csignal>
#include <streambuf>

#include <unistd.h>

namespace {

// Standard output written with write(2) through a buffer of its own, so that
// the reason a write failed (a full disk, a quota) is known when it is
// reported. After a failure everything further is dropped and the stream
// reads as bad.
class DescriptorBuffer : public std::streambuf {
public:
    explicit DescriptorBuffer(int fd) : fd_(fd) { setp(buffer_, buffer_ + sizeof buffer_); }
    ~DescriptorBuffer() override { drain(); }
    DescriptorBuffer(const DescriptorBuffer&) = delete;
    DescriptorBuffer& operator=(const DescriptorBuffer&) = delete;

    int error() const { return error_; }

protected:
    int overflow(int c) override {
        if (drain() != 0) return traits_type::eof();
        if (!traits_type::eq_int_type(c, traits_type::eof())) {
            *pptr() = traits_type::to_char_type(c);
            pbump(1);
        }
        return traits_type::not_eof(c);
    }
    int sync() override { return drain(); }

private:
    int drain() {
        const char* p = pbase();
        std::size_t left = static_cast<std::size_t>(pptr() - pbase());
        while (left > 0 && error_ == 0) {
            const ssize_t n = ::write(fd_, p, left);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) {
                error_ = n < 0 ? errno : EIO;
                break;
            }
            p += n;
            left -= static_cast<std::size_t>(n);
        }
        setp(buffer_, buffer_ + sizeof buffer_);
        return error_ == 0 ? 0 : -1;
    }

    int fd_;
    int error_ = 0;
    char buffer_[65536];
};

}  // namespace

int main(int argc, char** argv) {
    // Past a file size limit a write should fail and be reported for that
    // file, keeping what was there, rather than kill the whole run.
    std::signal(SIGXFSZ, SIG_IGN);
    std::ios::sync_with_stdio(false);

    const std::vector<std::string> args(argv + (argc > 0 ? 1 : 0), argv + (argc > 0 ? argc : 0));
    DescriptorBuffer outBuffer(STDOUT_FILENO);
    std::ostream out(&outBuffer);
    qel::CliContext context;
    context.errIsTerminal = isatty(STDERR_FILENO) == 1;
    context.outIsTerminal = isatty(STDOUT_FILENO) == 1;
    context.outputError = [&outBuffer] { return outBuffer.error(); };
    return qel::runQel(args, out, std::cerr, context);
}
#endif

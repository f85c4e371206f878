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
    return qel::runQel(args, out, err, context);
}

#else
#include <csignal>

#include <unistd.h>

int main(int argc, char** argv) {
    // Past a file size limit a write should fail and be reported for that
    // file, keeping what was there, rather than kill the whole run.
    std::signal(SIGXFSZ, SIG_IGN);
    std::ios::sync_with_stdio(false);

    const std::vector<std::string> args(argv + (argc > 0 ? 1 : 0), argv + (argc > 0 ? argc : 0));
    qel::CliContext context;
    context.errIsTerminal = isatty(2) == 1;
    return qel::runQel(args, std::cout, std::cerr, context);
}
#endif

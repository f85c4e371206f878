// qel: the command-line companion of the viewer. See tools/Cli.h.
#include <csignal>
#include <iostream>
#include <string>
#include <vector>

#include <unistd.h>

#include "tools/Cli.h"

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

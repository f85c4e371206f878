#include "tools/Cli.h"

#include <cstdlib>
#include <cstring>
#include <ostream>
#include <thread>
#include <utility>

#include "tools/Commands.h"

#ifndef QEL_VERSION
#define QEL_VERSION "0"
#endif

namespace qel {

namespace {

constexpr const char* kSummary =
    "Usage: qel COMMAND [OPTION]... FILE...\n"
    "Work on packed picture files (.qel) as the viewer does.\n"
    "\n"
    "Commands:\n"
    "  extract    write each file's picture as <name>.bmp (or .png)\n"
    "  info       print size, bit count and payload size of each file\n"
    "  pack       pack BMP or PNG pictures into <name>.qel\n"
    "  render     draw the viewer's window for one file into a BMP or PNG\n"
    "  thumbnail  write a scaled PNG preview of one file\n"
    "\n"
    "A FILE that is a directory stands for the .qel files in it (.bmp and .png\n"
    "files for pack), in name order, not descending into subdirectories.\n"
    "\n"
    "  -h, --help     show this help, or a command's help after the command\n"
    "      --version  show the version\n"
    "\n"
    "Exit status: 0 when every file succeeded, 1 when any failed (the others are\n"
    "still done), 2 for a wrong command line.\n";

struct OptionSpec {
    char shortName;  // also the key the value is kept under
    const char* longName;
    bool takesValue;
    bool hasShortForm = true;
};

struct CommandSpec {
    const char* name;
    std::vector<OptionSpec> options;
    const char* help;
};

const std::vector<CommandSpec>& commands() {
    static const std::vector<CommandSpec> specs = {
        {"extract",
         {{'o', "output", true}, {'f', "force", false}, {'p', "png", false, false}, {'j', "jobs", true}},
         "Usage: qel extract [-o DIR] [-f] [--png] [-j N] FILE...\n"
         "Write each packed file's payload to DIR/<name>.bmp byte for byte, exactly\n"
         "what the viewer's \"Extract(BMP)\" writes, whether or not it is a picture.\n"
         "\n"
         "  -o, --output=DIR  write into DIR (default: the current directory)\n"
         "  -f, --force       replace existing files (default: keep them, report)\n"
         "      --png         write <name>.png instead: the picture in RGBA, the key\n"
         "                    colour 0xFF00FF fully transparent\n"
         "  -j, --jobs=N      work on N files at a time (default: one per core)\n"},
        {"info",
         {{'j', "jobs", true}},
         "Usage: qel info [-j N] FILE...\n"
         "Print one line per file: \"FILE: WIDTHxHEIGHT, N-bit, P bytes\" when the\n"
         "viewer would show it, else \"FILE: \" and why not (\"cannot open\",\n"
         "\"inflate error -5\", \"not a picture\", ...).\n"
         "\n"
         "  -j, --jobs=N  work on N files at a time (default: one per core)\n"},
        {"pack",
         {{'o', "output", true}, {'f', "force", false}, {'j', "jobs", true}},
         "Usage: qel pack [-o DIR] [-f] [-j N] FILE...\n"
         "Pack each BMP or PNG picture into DIR/<name>.qel at zlib's best compression.\n"
         "A PNG becomes a 24-bit BMP: fully transparent pixels take the key colour\n"
         "0xFF00FF, opaque ones keep their colour; partly transparent ones are\n"
         "refused. Pictures the viewer could not show, or larger than 2048 bytes as\n"
         "a BMP, are refused.\n"
         "\n"
         "  -o, --output=DIR  write into DIR (default: the current directory)\n"
         "  -f, --force       replace existing files (default: keep them, report)\n"
         "  -j, --jobs=N      work on N files at a time (default: one per core)\n"},
        {"render",
         {{'b', "backdrop", true}, {'o', "output", true}},
         "Usage: qel render [-b BACKDROP] -o OUT FILE\n"
         "Draw the viewer's 144x76 window for FILE: the backdrop (white without one)\n"
         "with the sprite's top-left 24x24 pixels at (52,22), key colour left out.\n"
         "OUT is a PNG when its name ends in .png, a 24-bit BMP otherwise.\n"
         "\n"
         "  -b, --backdrop=BMP  the backdrop picture (default: plain white)\n"
         "  -o, --output=OUT    the file to write (required)\n"},
        {"thumbnail",
         {{'s', "size", true}},
         "Usage: qel thumbnail -s SIZE FILE OUT.png\n"
         "Write a PNG preview of FILE's whole picture, never larger than SIZE x SIZE,\n"
         "transparent where the key colour is. A smaller picture is enlarged by the\n"
         "largest whole factor that fits; a larger one is reduced to fit, each pixel\n"
         "of the preview taken from one pixel of the picture, so edges stay sharp.\n"
         "\n"
         "  -s, --size=SIZE  the preview's largest width and height, 1 to 4096\n"},
    };
    return specs;
}

constexpr int kMaxThumbnailSize = 4096;
constexpr unsigned kMaxJobs = 64;

class UsageError {
public:
    UsageError(std::ostream& err, std::string command) : err_(err), command_(std::move(command)) {}
    int operator()(const std::string& message) const {
        err_ << "qel: " << message << '\n';
        err_ << "Try 'qel " << (command_.empty() ? "" : command_ + " ") << "--help' for more information.\n"
             << std::flush;
        return kExitUsage;
    }

private:
    std::ostream& err_;
    std::string command_;
};

struct ParsedLine {
    std::vector<std::pair<char, std::string>> options;  // in order; later ones win
    std::vector<std::string> operands;
    bool help = false;

    bool has(char name) const {
        for (const auto& option : options) {
            if (option.first == name) return true;
        }
        return false;
    }
    std::string value(char name) const {
        std::string found;
        for (const auto& option : options) {
            if (option.first == name) found = option.second;
        }
        return found;
    }
};

// GNU-style parsing: options and operands in any order, "--" ends options,
// short options may be grouped ("-fo DIR") and take their value attached or
// as the next argument, long options may be abbreviated to a unique prefix
// and take "=VALUE" or the next argument. Returns an empty string or the
// usage message.
std::string parseLine(const CommandSpec& spec, const std::vector<std::string>& args, std::size_t first,
                      ParsedLine& parsed) {
    bool optionsEnded = false;
    for (std::size_t i = first; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (optionsEnded || arg.size() < 2 || arg[0] != '-') {
            parsed.operands.push_back(arg);
            continue;
        }
        if (arg == "--") {
            optionsEnded = true;
            continue;
        }
        if (arg[1] == '-') {
            const std::size_t equals = arg.find('=');
            const std::string name = arg.substr(2, equals == std::string::npos ? std::string::npos : equals - 2);
            // --help is one of the command's long options, shortened like the others.
            static const OptionSpec kHelp{'h', "help", false};
            std::vector<const OptionSpec*> candidates = {&kHelp};
            for (const OptionSpec& option : spec.options) candidates.push_back(&option);
            const OptionSpec* match = nullptr;
            int matches = 0;
            for (const OptionSpec* candidate : candidates) {
                const OptionSpec& option = *candidate;
                const std::string longName = option.longName;
                if (longName == name) {
                    match = &option;
                    matches = 1;
                    break;
                }
                if (!name.empty() && longName.compare(0, name.size(), name) == 0) {
                    match = &option;
                    ++matches;
                }
            }
            if (matches == 0) return "unrecognized option '--" + name + "'";
            if (matches > 1) return "option '--" + name + "' is ambiguous";
            if (!match->takesValue) {
                if (equals != std::string::npos) {
                    return std::string("option '--") + match->longName + "' doesn't allow an argument";
                }
                if (match == &kHelp) {
                    parsed.help = true;
                    continue;
                }
                parsed.options.emplace_back(match->shortName, std::string());
            } else if (equals != std::string::npos) {
                parsed.options.emplace_back(match->shortName, arg.substr(equals + 1));
            } else if (i + 1 < args.size()) {
                parsed.options.emplace_back(match->shortName, args[++i]);
            } else {
                return std::string("option '--") + match->longName + "' requires an argument";
            }
            continue;
        }
        for (std::size_t k = 1; k < arg.size(); ++k) {
            const char c = arg[k];
            if (c == 'h') {
                parsed.help = true;
                continue;
            }
            const OptionSpec* match = nullptr;
            for (const OptionSpec& option : spec.options) {
                if (option.hasShortForm && option.shortName == c) match = &option;
            }
            if (!match) return std::string("invalid option -- '") + c + "'";
            if (!match->takesValue) {
                parsed.options.emplace_back(c, std::string());
                continue;
            }
            if (k + 1 < arg.size()) {
                parsed.options.emplace_back(c, arg.substr(k + 1));
            } else if (i + 1 < args.size()) {
                parsed.options.emplace_back(c, args[++i]);
            } else {
                return std::string("option requires an argument -- '") + c + "'";
            }
            break;
        }
    }
    return std::string();
}

// A decimal number from min to max, nothing else.
bool parseNumber(const std::string& text, long min, long max, long& value) {
    if (text.empty() || text.size() > 9) return false;
    long result = 0;
    for (const char c : text) {
        if (c < '0' || c > '9') return false;
        result = result * 10 + (c - '0');
    }
    if (result < min || result > max) return false;
    value = result;
    return true;
}

unsigned defaultJobs(const CliContext& context) {
    if (context.defaultJobs != 0) return context.defaultJobs;
    const unsigned cores = std::thread::hardware_concurrency();
    return cores == 0 ? 1 : std::min(cores, kMaxJobs);
}

int runCommand(const CommandSpec& spec, const std::vector<std::string>& args, std::ostream& out,
               std::ostream& err, const CliContext& context) {
    const UsageError usage(err, spec.name);
    ParsedLine line;
    const std::string problem = parseLine(spec, args, 1, line);
    if (!problem.empty()) return usage(problem);
    if (line.help) {
        out << spec.help << std::flush;
        return kExitSuccess;
    }
    const std::string command = spec.name;

    BatchSettings settings;
    settings.outDir = line.value('o');
    settings.force = line.has('f');
    settings.png = line.has('p');
    settings.showProgress = context.errIsTerminal;
    settings.outIsTerminal = context.outIsTerminal;
    settings.jobs = defaultJobs(context);
    if (line.has('j')) {
        long jobs = 0;
        if (!parseNumber(line.value('j'), 1, kMaxJobs, jobs)) {
            return usage("invalid number of jobs '" + line.value('j') + "' (1 to " + std::to_string(kMaxJobs) + ")");
        }
        settings.jobs = static_cast<unsigned>(jobs);
    }
    if (line.has('o') && settings.outDir.empty()) return usage("the output name is empty");

    if (command == "extract" || command == "info" || command == "pack") {
        if (line.operands.empty()) return usage("missing file operand");
        // The operands become the items' paths: moved, not copied, for
        // thousands of names.
        if (command == "extract") return extractFiles(std::move(line.operands), settings, out, err);
        if (command == "info") return describeFiles(std::move(line.operands), settings, out, err);
        return packFiles(std::move(line.operands), settings, out, err);
    }
    if (command == "render") {
        if (!line.has('o')) return usage("missing output file (-o OUT)");
        if (line.operands.size() != 1) return usage("render takes exactly one FILE");
        if (line.has('b') && line.value('b').empty()) return usage("the backdrop name is empty");
        return renderFile(line.operands[0], line.value('b'), settings.outDir, err);
    }
    // thumbnail
    if (!line.has('s')) return usage("missing preview size (-s SIZE)");
    long size = 0;
    if (!parseNumber(line.value('s'), 1, kMaxThumbnailSize, size)) {
        return usage("invalid size '" + line.value('s') + "' (1 to " + std::to_string(kMaxThumbnailSize) + ")");
    }
    if (line.operands.size() != 2) return usage("thumbnail takes a FILE and an OUT.png");
    return thumbnailFile(line.operands[0], static_cast<int>(size), line.operands[1], err);
}

// True when arg is "--" and a non-empty start of longName.
bool abbreviates(const std::string& arg, const char* longName) {
    if (arg.size() <= 2 || arg.compare(0, 2, "--") != 0) return false;
    return std::string(longName).compare(0, arg.size() - 2, arg, 2, std::string::npos) == 0;
}

int dispatch(const std::vector<std::string>& args, std::ostream& out, std::ostream& err, const CliContext& context) {
    const UsageError usage(err, std::string());
    if (args.empty()) return usage("missing command");
    const std::string& first = args[0];
    if (abbreviates(first, "help") || first == "-h" || first == "help") {
        out << kSummary << std::flush;
        return kExitSuccess;
    }
    if (abbreviates(first, "version")) {
        out << "qel " << QEL_VERSION << '\n' << std::flush;
        return kExitSuccess;
    }
    for (const CommandSpec& spec : commands()) {
        if (first == spec.name) return runCommand(spec, args, out, err, context);
    }
    if (first.size() > 1 && first[0] == '-') return usage("unrecognized option '" + first + "'");
    return usage("unknown command '" + first + "'");
}

}  // namespace

int runQel(const std::vector<std::string>& args, std::ostream& out, std::ostream& err, const CliContext& context) {
    const int status = dispatch(args, out, err, context);
    // Results that never arrived are a failure like any other, not a
    // success with nothing said (a full disk, a closed pipe's reader gone).
    out.flush();
    if (out) return status;
    const int error = context.outputError ? context.outputError() : 0;
    err << "qel: write error";
    if (error != 0) err << ": " << std::strerror(error);
    err << '\n' << std::flush;
    return status == kExitUsage ? kExitUsage : kExitFailure;
}

}  // namespace qel

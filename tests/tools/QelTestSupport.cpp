#include "tests/tools/QelTestSupport.h"

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <sstream>

#include <png.h>

#ifdef _WIN32
#include <windows.h>

#include "tests/win32/Win32TestSupport.h"
#else
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include "packed/PackedFile.h"
#include "tools/Cli.h"

namespace qel::testing {

CliRun runCli(const std::vector<std::string>& args, unsigned jobs, bool errIsTerminal) {
    std::ostringstream out, err;
    CliContext context;
    context.defaultJobs = jobs;
    context.errIsTerminal = errIsTerminal;
    CliRun run;
    run.status = runQel(args, out, err, context);
    run.out = out.str();
    run.err = err.str();
    return run;
}

namespace {

std::string takeFile(const char* name) {
    const Bytes bytes = readFile(name);
    std::error_code ignored;
    std::filesystem::remove(name, ignored);
    return std::string(bytes.begin(), bytes.end());
}

#ifdef _WIN32
std::wstring wide(const std::string& text) {
    if (text.empty()) return std::wstring();
    const int length = MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring out(static_cast<std::size_t>(length), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), &out[0], length);
    return out;
}

// qel.exe beside the test program: the build puts both in one folder.
std::wstring programPath() {
    wchar_t self[32768];
    const DWORD length = GetModuleFileNameW(nullptr, self, 32768);
    std::wstring path(self, length);
    return path.substr(0, path.find_last_of(L"\\/") + 1) + L"qel.exe";
}

HANDLE inheritable(const wchar_t* name, DWORD access, DWORD disposition) {
    SECURITY_ATTRIBUTES attributes{sizeof attributes, nullptr, TRUE};
    return CreateFileW(name, access, FILE_SHARE_READ | FILE_SHARE_WRITE, &attributes, disposition,
                       FILE_ATTRIBUTE_NORMAL, nullptr);
}
#endif

}  // namespace

CliRun runProgram(const std::vector<std::string>& args) {
    CliRun run;
#ifdef _WIN32
    const std::wstring program = programPath();
    std::vector<std::wstring> words{program};
    for (const std::string& arg : args) words.push_back(wide(arg));
    std::wstring line = quotedCommandLine(words);
    HANDLE in = inheritable(L"NUL", GENERIC_READ, OPEN_EXISTING);
    HANDLE out = inheritable(L"qel.out", GENERIC_WRITE, CREATE_ALWAYS);
    HANDLE err = inheritable(L"qel.err", GENERIC_WRITE, CREATE_ALWAYS);
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = in;
    startup.hStdOutput = out;
    startup.hStdError = err;
    PROCESS_INFORMATION process{};
    // Without a console of its own: its output goes only to the files, and no
    // console host lingers holding them open after it ends.
    if (CreateProcessW(program.c_str(), &line[0], nullptr, nullptr, TRUE, DETACHED_PROCESS, nullptr, nullptr,
                       &startup, &process)) {
        WaitForSingleObject(process.hProcess, INFINITE);
        DWORD code = 0;
        if (GetExitCodeProcess(process.hProcess, &code)) run.status = static_cast<int>(code);
        CloseHandle(process.hThread);
        CloseHandle(process.hProcess);
    }
    CloseHandle(in);
    CloseHandle(out);
    CloseHandle(err);
#else
    std::vector<char*> argv;
    std::string program = QEL_PROGRAM;
    std::vector<std::string> owned(args);
    argv.push_back(&program[0]);
    for (std::string& arg : owned) argv.push_back(&arg[0]);
    argv.push_back(nullptr);
    const pid_t child = ::fork();
    if (child == 0) {
        const int in = ::open("/dev/null", O_RDONLY);
        const int out = ::open("qel.out", O_WRONLY | O_CREAT | O_TRUNC, 0644);
        const int err = ::open("qel.err", O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (in < 0 || out < 0 || err < 0 || ::dup2(in, 0) < 0 || ::dup2(out, 1) < 0 || ::dup2(err, 2) < 0) _exit(127);
        ::execv(argv[0], argv.data());
        _exit(127);
    }
    int raw = 0;
    if (child > 0 && ::waitpid(child, &raw, 0) == child && WIFEXITED(raw)) run.status = WEXITSTATUS(raw);
#endif
    run.out = takeFile("qel.out");
    run.err = takeFile("qel.err");
    return run;
}

std::string native(std::string slashed) {
#ifdef _WIN32
    std::replace(slashed.begin(), slashed.end(), '/', '\\');
#endif
    return slashed;
}

Bytes starBmp() { return makeBmp24(24, 24, sampleSpriteColour); }

Bytes packed(const Bytes& payload) { return packBytes(payload.data(), payload.size(), 9); }

void writePacked(const std::string& path, const Bytes& payload) { writeFile(path, packed(payload)); }

std::vector<std::string> namesIn(const std::string& dir) {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(dir)) {
        names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
}

std::uint32_t PngPixels::rgbAt(int x, int y) const {
    const std::uint8_t* p = &rgba[(static_cast<std::size_t>(y) * static_cast<std::size_t>(width) +
                                   static_cast<std::size_t>(x)) * 4];
    return (static_cast<std::uint32_t>(p[0]) << 16) | (static_cast<std::uint32_t>(p[1]) << 8) | p[2];
}

std::uint8_t PngPixels::alphaAt(int x, int y) const {
    return rgba[(static_cast<std::size_t>(y) * static_cast<std::size_t>(width) + static_cast<std::size_t>(x)) * 4 + 3];
}

bool readPng(const std::string& path, PngPixels& pixels) {
    const Bytes file = readFile(path);
    png_image image;
    std::memset(&image, 0, sizeof image);
    image.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_memory(&image, file.data(), file.size())) return false;
    pixels.width = static_cast<int>(image.width);
    pixels.height = static_cast<int>(image.height);
    pixels.fileHasAlpha = (image.format & PNG_FORMAT_FLAG_ALPHA) != 0;
    image.format = PNG_FORMAT_RGBA;
    pixels.rgba.assign(PNG_IMAGE_SIZE(image), 0);
    if (!png_image_finish_read(&image, nullptr, pixels.rgba.data(), 0, nullptr)) {
        png_image_free(&image);
        return false;
    }
    return true;
}

namespace {

void appendBytes(png_structp png, png_bytep data, png_size_t length) {
    auto* out = static_cast<Bytes*>(png_get_io_ptr(png));
    out->insert(out->end(), data, data + length);
}

int channelsOf(int colourType) {
    switch (colourType) {
    case PNG_COLOR_TYPE_GRAY_ALPHA: return 2;
    case PNG_COLOR_TYPE_RGB: return 3;
    case PNG_COLOR_TYPE_RGB_ALPHA: return 4;
    default: return 1;
    }
}

// Packs the samples into rows at the bit depth, high bits first.
std::vector<Bytes> packedRows(const PngSpec& spec) {
    const int channels = channelsOf(spec.colourType);
    std::vector<Bytes> rows(static_cast<std::size_t>(spec.height));
    std::size_t next = 0;
    for (Bytes& row : rows) {
        row.assign((static_cast<std::size_t>(spec.width * channels * spec.bitDepth) + 7) / 8, 0);
        for (int i = 0; i < spec.width * channels; ++i) {
            const unsigned value = spec.samples.at(next++);
            if (spec.bitDepth == 16) {
                row[2 * i] = static_cast<std::uint8_t>(value >> 8);
                row[2 * i + 1] = static_cast<std::uint8_t>(value);
            } else {
                const int bit = i * spec.bitDepth;
                row[bit / 8] |= static_cast<std::uint8_t>(value << (8 - spec.bitDepth - bit % 8));
            }
        }
    }
    return rows;
}

// Everything with a destructor lives in the caller: libpng may jump out of here.
bool writePng(png_structp png, png_infop info, const PngSpec& spec, std::vector<png_color>& palette,
              std::vector<png_bytep>& rows) {
    if (setjmp(png_jmpbuf(png))) return false;
    png_set_IHDR(png, info, static_cast<png_uint_32>(spec.width), static_cast<png_uint_32>(spec.height),
                 spec.bitDepth, spec.colourType, spec.interlaced ? PNG_INTERLACE_ADAM7 : PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    if (!palette.empty()) png_set_PLTE(png, info, palette.data(), static_cast<int>(palette.size()));
    if (!spec.paletteAlpha.empty()) {
        png_set_tRNS(png, info, spec.paletteAlpha.data(), static_cast<int>(spec.paletteAlpha.size()), nullptr);
    }
    if (!spec.transparentValue.empty()) {
        png_color_16 value{};
        if (spec.transparentValue.size() == 1) {
            value.gray = static_cast<png_uint_16>(spec.transparentValue[0]);
        } else {
            value.red = static_cast<png_uint_16>(spec.transparentValue[0]);
            value.green = static_cast<png_uint_16>(spec.transparentValue[1]);
            value.blue = static_cast<png_uint_16>(spec.transparentValue[2]);
        }
        png_set_tRNS(png, info, nullptr, 0, &value);
    }
    png_set_rows(png, info, rows.data());
    png_write_png(png, info, PNG_TRANSFORM_IDENTITY, nullptr);
    return true;
}

}  // namespace

Bytes makePng(const PngSpec& spec) {
    std::vector<Bytes> rows = packedRows(spec);
    std::vector<png_bytep> pointers;
    for (Bytes& row : rows) pointers.push_back(row.data());
    std::vector<png_color> palette;
    for (const std::uint32_t c : spec.palette) {
        palette.push_back({static_cast<png_byte>(c >> 16), static_cast<png_byte>(c >> 8), static_cast<png_byte>(c)});
    }
    Bytes out;
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    png_set_write_fn(png, &out, appendBytes, nullptr);
    if (!writePng(png, info, spec, palette, pointers)) out.clear();
    png_destroy_write_struct(&png, &info);
    return out;
}

}  // namespace qel::testing

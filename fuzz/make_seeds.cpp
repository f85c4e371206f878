// Writes the seed corpora of the fuzz targets: sound pictures at every bit
// count the reader knows and some it does not, the hostile inputs of the
// malformed-input tests, each packed as well, and dropped paths in the shapes
// the splitter must handle.
//
//   qel_fuzz_seeds OUTPUT_DIR
//
// makes OUTPUT_DIR/<target>/<case> for the targets bmp_reader,
// packed_decoder, packed_streaming, packed_payload, dropped_path and
// pack_round_trip and host_picture.
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "packed/PackedFile.h"
#include "tests/malformed/HostileInputs.h"
#include "tests/support/BmpFactory.h"

namespace fs = std::filesystem;
using qel::testing::Bytes;
using qel::testing::NamedInput;

namespace {

bool writeAll(const fs::path& dir, const std::vector<NamedInput>& inputs, const std::string& prefix = "") {
    std::error_code error;
    fs::create_directories(dir, error);
    if (error) {
        std::fprintf(stderr, "cannot create %s\n", dir.string().c_str());
        return false;
    }
    for (const NamedInput& input : inputs) {
        const fs::path file = dir / (prefix + input.name);
        qel::testing::writeFile(file.string(), input.bytes);
        if (fs::file_size(file, error) != input.bytes.size() || error) {
            std::fprintf(stderr, "cannot write %s\n", file.string().c_str());
            return false;
        }
    }
    return true;
}

Bytes text(const std::string& s) { return Bytes(s.begin(), s.end()); }

std::vector<NamedInput> droppedPaths() {
    return {
        {"windows", text("C:\\Users\\me\\Pictures\\star.qel")},
        {"posix", text("/home/me/pictures/star.qel")},
        {"two-dots", text("/tmp/a.b.qel")},
        {"dot-in-directory", text("C:\\my.dir\\noext")},
        {"longer-extension", text("D:star.qelx")},
        {"upper-case", text("STAR.QEL")},
        {"short-extension", text("x.qe")},
        {"no-name", text("C:\\dir\\.qel")},
        {"trailing-separator", text("C:\\dir\\")},
        {"drive-only", text("C:")},
        {"dot-only", text(".")},
        // UTF-8 names: a character outside every ANSI code page, accents,
        // and a multibyte character cut off at the end.
        {"utf8-star", text("C:\\Users\\me\\\xe6\x98\x9f.qel")},
        {"utf8-accents", text("/home/me/\xc3\xa9toile filante.qel")},
        {"utf8-cut", text("C:\\dir\\name.qel\xe6\x98")},
        {"mixed-separators", text("a/b\\c/d.e\\f.qel")},
    };
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s OUTPUT_DIR\n", argv[0]);
        return 2;
    }
    const fs::path out = argv[1];
    const std::vector<NamedInput> sound = qel::testing::soundBmps();
    const std::vector<NamedInput> hostile = qel::testing::hostileBmps();

    // Each picture also packed, so the decoder's fuzzer starts with streams
    // that reach the reader, at zlib's fastest and best levels.
    std::vector<NamedInput> packedPictures;
    for (const auto* list : {&sound, &hostile}) {
        for (const NamedInput& input : *list) {
            for (int level : {1, 9}) {
                Bytes packed = qel::packBytes(input.bytes.data(), input.bytes.size(), level);
                if (packed.empty()) return 1;
                packedPictures.push_back({input.name + "-z" + std::to_string(level), std::move(packed)});
            }
        }
    }

    const bool ok = writeAll(out / "bmp_reader", sound, "sound-") && writeAll(out / "bmp_reader", hostile, "hostile-") &&
                    writeAll(out / "packed_decoder", qel::testing::hostilePackedFiles(), "stream-") &&
                    writeAll(out / "packed_decoder", packedPictures, "packed-") &&
                    writeAll(out / "packed_streaming", qel::testing::hostilePackedFiles(), "stream-") &&
                    writeAll(out / "packed_streaming", packedPictures, "packed-") &&
                    writeAll(out / "packed_payload", sound, "sound-") &&
                    writeAll(out / "packed_payload", hostile, "hostile-") &&
                    writeAll(out / "dropped_path", droppedPaths()) &&
                    writeAll(out / "pack_round_trip", sound, "sound-") &&
                    writeAll(out / "pack_round_trip", hostile, "hostile-") &&
                    writeAll(out / "host_picture", qel::testing::hostilePackedFiles(), "stream-") &&
                    writeAll(out / "host_picture", packedPictures, "packed-");
    return ok ? 0 : 1;
}

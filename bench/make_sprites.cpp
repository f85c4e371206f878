// Writes COUNT different 24x24 24-bit sprites, DIR/s00000.bmp and on, for
// timing qel over a large folder (scripts/bench-extract.sh packs them with
// qel pack).
#include <cstdio>
#include <cstdlib>
#include <string>

#include "bench/SpriteFactory.h"
#include "files/FileIo.h"

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: qel_make_sprites DIR COUNT\n");
        return 2;
    }
    const std::string dir = argv[1];
    char* end = nullptr;
    const long count = std::strtol(argv[2], &end, 10);
    if (*argv[2] == '\0' || *end != '\0' || count < 0 || count > 1000000) {
        std::fprintf(stderr, "qel_make_sprites: invalid count '%s'\n", argv[2]);
        return 2;
    }
    // Flushed once at the end, as qel's batches are.
    qel::OutputDirectory out(dir, qel::Durability::batch);
    for (long i = 0; i < count; ++i) {
        char name[32];
        std::snprintf(name, sizeof name, "s%05ld.bmp", i);
        const auto bmp = qel::bench::makeSprite24(static_cast<unsigned>(i));
        if (out.publish(name, bmp.data(), bmp.size(), true).outcome != qel::WriteOutcome::written) {
            std::fprintf(stderr, "qel_make_sprites: cannot write %s/%s\n", dir.c_str(), name);
            return 1;
        }
    }
    if (out.flushAll() != 0) {
        std::fprintf(stderr, "qel_make_sprites: cannot flush %s\n", dir.c_str());
        return 1;
    }
    return 0;
}

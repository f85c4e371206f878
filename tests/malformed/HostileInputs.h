// Hostile inputs for the BMP reader and the packed file decoder, made in
// memory. The malformed-input tests assert what each one gets; the fuzz seed
// generator writes the same inputs out as seeds, so the fuzzers start from
// every corner the tests know about.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "tests/support/BmpFactory.h"

namespace qel::testing {

struct NamedInput {
    std::string name;  // a file-name-safe label
    Bytes bytes;
};

// Sound pictures: the project's 24x24 sample sprite at 24, 16 and 8 bits.
Bytes sampleSprite24();
Bytes sampleSprite16();
Bytes sampleSprite8();

// A copy of bytes cut to its first length bytes.
Bytes truncated(const Bytes& bytes, std::size_t length);
// A copy of bmp with a 32-bit little-endian field at offset replaced.
Bytes withField32(const Bytes& bmp, std::size_t offset, std::uint32_t value);
Bytes withField16(const Bytes& bmp, std::size_t offset, std::uint16_t value);

// A packed file whose zlib header asks for a preset dictionary (made by
// zlib itself with the dictionary "qel").
Bytes packedWithPresetDictionary(const Bytes& payload);
// A sound 24-bit picture whose file image is exactly size bytes (size >= 57):
// a one-row picture padded with trailing bytes the reader ignores.
Bytes pictureOfExactSize(std::size_t size);

// Every BMP-level hostile case of the malformed-input tests, and sound ones.
std::vector<NamedInput> hostileBmps();
std::vector<NamedInput> soundBmps();
// Every packed-file hostile case (streams that are themselves broken, and
// sound streams carrying hostile payloads).
std::vector<NamedInput> hostilePackedFiles();

}  // namespace qel::testing

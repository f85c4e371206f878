#include "imaging/Raster.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <limits>
#include <new>

#include "imaging/Bytes.h"

namespace qel {

namespace {

// Byte count of a width x height 24-bit picture, or false when it is negative
// or larger than any array can be (checked before multiplying). Asking the
// allocator for more than that is not a failed allocation but a fault that
// sanitizers and memory checkers stop the program for.
bool pixelByteCount(long long width, long long height, std::size_t& bytes) {
    if (width < 0 || height < 0) return false;
    const auto maxBytes = static_cast<std::size_t>(std::numeric_limits<std::ptrdiff_t>::max());
    const auto w = static_cast<std::size_t>(width);
    const auto h = static_cast<std::size_t>(height);
    if (w != 0 && h > maxBytes / 3 / w) return false;
    bytes = w * h * 3;
    return true;
}

bool keyMatches(const std::uint8_t* px, std::uint32_t key) {
    return px[0] == (key & 0xFF) && px[1] == ((key >> 8) & 0xFF) && px[2] == ((key >> 16) & 0xFF);
}

}  // namespace

Raster::Raster(int width, int height) { create(width, height); }

std::size_t Raster::pixelBytes() const {
    if (!pixels_) return 0;
    return static_cast<std::size_t>(width_) * static_cast<std::size_t>(height_) * 3;
}

bool Raster::create(int width, int height) {
    colour_ = 0;
    release();
    std::size_t bytes = 0;
    if (!pixelByteCount(width, height, bytes)) return false;
    std::unique_ptr<std::uint8_t[]> buffer(new (std::nothrow) std::uint8_t[bytes ? bytes : 1]());
    if (!buffer) return false;

    width_ = width;
    height_ = height;
    // A plain 24-bit info header; biSizeImage and the palette entry are left alone.
    std::uint8_t* h = header_.data();
    writeLe32(h + biSize, kInfoHeaderSize);
    writeLe32(h + biWidth, static_cast<std::uint32_t>(width));
    writeLe32(h + biHeight, static_cast<std::uint32_t>(height));
    writeLe16(h + biPlanes, 1);
    writeLe16(h + biBitCount, 24);
    writeLe32(h + biCompression, 0);
    writeLe32(h + biXPelsPerMeter, 0);
    writeLe32(h + biYPelsPerMeter, 0);
    writeLe32(h + biClrUsed, 0);
    writeLe32(h + biClrImportant, 0);
    pixels_ = std::move(buffer);
    return true;
}

bool Raster::release() {
    pixels_.reset();
    return true;
}

void Raster::fill() {
    if (!pixels_) return;
    const std::uint8_t blue = colour_ & 0xFF;
    const std::uint8_t green = (colour_ >> 8) & 0xFF;
    const std::uint8_t red = (colour_ >> 16) & 0xFF;
    std::uint8_t* p = pixels_.get();
    const std::size_t bytes = pixelBytes();
    for (std::size_t i = 0; i < bytes; i += 3) {
        p[i] = blue;
        p[i + 1] = green;
        p[i + 2] = red;
    }
}

void Raster::blit(int destX, int destY, int srcX, int srcY, int w, int h, const Raster& source) {
    copyRect(destX, destY, srcX, srcY, w, h, source, false, 0);
}

void Raster::blitKeyed(int destX, int destY, int srcX, int srcY, int w, int h, std::uint32_t key,
                       const Raster& source) {
    copyRect(destX, destY, srcX, srcY, w, h, source, true, key);
}

void Raster::copyRect(int destX, int destY, int srcX, int srcY, int w, int h, const Raster& source,
                      bool keyed, std::uint32_t key) {
    if (!pixels_ || !source.pixels_) return;
    if (destX > width_ || destY > height_) return;

    // Clip in 64-bit arithmetic so that extreme arguments cannot overflow.
    long long dx = destX, dy = destY, sx = srcX, sy = srcY, cw = w, ch = h;
    if (dx < 0) { sx -= dx; cw += dx; dx = 0; }
    if (dy < 0) { sy -= dy; ch += dy; dy = 0; }
    if (sx < 0) { dx -= sx; cw += sx; sx = 0; }
    if (sy < 0) { dy -= sy; ch += sy; sy = 0; }
    cw = std::min({cw, static_cast<long long>(width_) - dx, static_cast<long long>(source.width_) - sx});
    ch = std::min({ch, static_cast<long long>(height_) - dy, static_cast<long long>(source.height_) - sy});
    if (cw <= 0 || ch <= 0) return;

    const std::size_t rowBytes = static_cast<std::size_t>(cw) * 3;
    for (long long i = 0; i < ch; ++i) {
        // Top-down row dy + i of this raster is buffer row height - 1 - (dy + i).
        const std::size_t destRow = static_cast<std::size_t>(height_ - 1 - (dy + i));
        const std::size_t srcRow = static_cast<std::size_t>(source.height_ - 1 - (sy + i));
        std::uint8_t* d = pixels_.get() + (destRow * static_cast<std::size_t>(width_) +
                                           static_cast<std::size_t>(dx)) * 3;
        const std::uint8_t* s = source.pixels_.get() + (srcRow * static_cast<std::size_t>(source.width_) +
                                                        static_cast<std::size_t>(sx)) * 3;
        if (!keyed) {
            std::memmove(d, s, rowBytes);
            continue;
        }
        for (std::size_t j = 0; j < rowBytes; j += 3) {
            if (keyMatches(s + j, key)) continue;
            d[j] = s[j];
            d[j + 1] = s[j + 1];
            d[j + 2] = s[j + 2];
        }
    }
}

std::uint32_t Raster::headerField(HeaderField field) const {
    return readLe32(header_.data() + field);
}

std::uint16_t Raster::bitCount() const { return readLe16(header_.data() + biBitCount); }

std::uint32_t Raster::pixelAt(int x, int y) const {
    if (!pixels_ || x < 0 || y < 0 || x >= width_ || y >= height_) return 0;
    const std::size_t row = static_cast<std::size_t>(height_ - 1 - y);
    const std::uint8_t* p = pixels_.get() + (row * static_cast<std::size_t>(width_) + static_cast<std::size_t>(x)) * 3;
    return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
           (static_cast<std::uint32_t>(p[2]) << 16);
}

std::vector<std::uint8_t> paddedRows(const Raster& raster) {
    std::vector<std::uint8_t> out;
    if (!raster.allocated()) return out;
    const std::size_t rowBytes = static_cast<std::size_t>(raster.width()) * 3;
    const std::size_t stride = (rowBytes + 3) & ~static_cast<std::size_t>(3);
    const auto rows = static_cast<std::size_t>(raster.height());
    out.assign(stride * rows, 0);
    for (std::size_t r = 0; r < rows; ++r) {
        std::memcpy(out.data() + r * stride, raster.pixels() + r * rowBytes, rowBytes);
    }
    return out;
}

}  // namespace qel

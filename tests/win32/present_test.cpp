// present(): a raster drawn into a 32-bit memory bitmap, read back pixel by pixel.
#include <gtest/gtest.h>

#include <windows.h>

#include <cstdint>
#include <vector>

#include "imaging/Raster.h"
#include "tests/support/BmpFactory.h"
#include "viewer/win32/ViewerWindowWin32.h"

namespace {

constexpr std::uint32_t kUntouched = 0x123456;

// A top-down 32-bit memory bitmap selected into its own device context.
class MemorySurface {
public:
    MemorySurface(int width, int height) : width_(width), height_(height) {
        BITMAPINFO info{};
        info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
        info.bmiHeader.biWidth = width;
        info.bmiHeader.biHeight = -height;
        info.bmiHeader.biPlanes = 1;
        info.bmiHeader.biBitCount = 32;
        info.bmiHeader.biCompression = BI_RGB;
        dc_ = CreateCompatibleDC(nullptr);
        void* bits = nullptr;
        bitmap_ = CreateDIBSection(dc_, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
        pixels_ = static_cast<std::uint32_t*>(bits);
        if (bitmap_) old_ = SelectObject(dc_, bitmap_);
        if (pixels_) std::fill(pixels_, pixels_ + width * height, kUntouched);
    }
    ~MemorySurface() {
        if (old_) SelectObject(dc_, old_);
        if (bitmap_) DeleteObject(bitmap_);
        if (dc_) DeleteDC(dc_);
    }
    MemorySurface(const MemorySurface&) = delete;
    MemorySurface& operator=(const MemorySurface&) = delete;

    bool ready() const { return dc_ && pixels_; }
    HDC dc() const { return dc_; }
    std::uint32_t at(int x, int y) const {
        GdiFlush();
        return pixels_[y * width_ + x] & 0xFFFFFFu;
    }
    int width() const { return width_; }
    int height() const { return height_; }

private:
    int width_;
    int height_;
    HDC dc_ = nullptr;
    HBITMAP bitmap_ = nullptr;
    HGDIOBJ old_ = nullptr;
    std::uint32_t* pixels_ = nullptr;
};

std::uint32_t patternColour(int x, int y) {
    return (static_cast<std::uint32_t>(x * 9 + 1) << 16) | (static_cast<std::uint32_t>(y * 40 + 3) << 8) |
           static_cast<std::uint32_t>((x * 5 + y * 11) & 0xFF);
}

// Expects the raster's pixels at (x0, y0) of the surface and kUntouched
// everywhere else.
void expectDrawnAt(const MemorySurface& surface, const qel::Raster& raster, int x0, int y0) {
    int wrong = 0;
    for (int y = 0; y < surface.height(); ++y) {
        for (int x = 0; x < surface.width(); ++x) {
            const bool inside = x >= x0 && y >= y0 && x < x0 + raster.width() && y < y0 + raster.height();
            const std::uint32_t expected = inside ? raster.pixelAt(x - x0, y - y0) : kUntouched;
            if (surface.at(x, y) != expected && ++wrong <= 5) {
                ADD_FAILURE() << "(" << x << ", " << y << "): 0x" << std::hex << surface.at(x, y)
                              << ", expected 0x" << expected << std::dec;
            }
        }
    }
    EXPECT_EQ(wrong, 0);
}

void paintPattern(qel::Raster& raster) {
    for (int y = 0; y < raster.height(); ++y) {
        for (int x = 0; x < raster.width(); ++x) {
            raster.setColour(patternColour(x, y));
            raster.setPixel(x, y + 1);  // setPixel counts rows from 1
        }
    }
}

TEST(Present, DrawsEachPixelInPlaceWhateverTheRowLength) {
    // 25 * 3 = 75 bytes a row needs padding for the display; 4 * 3 = 12 not;
    // 1 and 2 pixels are the shortest rows of each kind.
    for (const int width : {25, 4, 1, 2, 144}) {
        SCOPED_TRACE(width);
        qel::Raster raster;
        ASSERT_TRUE(raster.create(width, 5));
        paintPattern(raster);
        MemorySurface surface(width + 10, 12);
        ASSERT_TRUE(surface.ready());
        qel::win32::present(surface.dc(), raster, 3, 4);
        expectDrawnAt(surface, raster, 3, 4);
    }
}

TEST(Present, RasterWithoutPixelsDrawsNothing) {
    MemorySurface surface(16, 16);
    ASSERT_TRUE(surface.ready());

    qel::Raster never;
    qel::win32::present(surface.dc(), never, 0, 0);

    qel::Raster released;
    ASSERT_TRUE(released.create(8, 8));
    released.setColour(0xFFFFFF);
    released.fill();
    released.release();
    qel::win32::present(surface.dc(), released, 0, 0);

    for (int y = 0; y < 16; ++y) {
        for (int x = 0; x < 16; ++x) ASSERT_EQ(surface.at(x, y), kUntouched) << x << ", " << y;
    }
}

TEST(Present, DrawsFromThePixelsWhateverTheHeaderBlockSays) {
    // A file of a bit count the reader does not decode loads as a 24-bit
    // picture whose header block keeps the file's count (here 32); one with
    // an odd compression field keeps that field. Both must draw the 24-bit
    // pixels, never read the buffer by the header's layout.
    const qel::testing::Bytes deep = qel::testing::makeBmpOfBitCount(7, 6, 32);
    qel::testing::Bytes compressed = qel::testing::makeBmp24(7, 6, patternColour);
    compressed[30] = 3;  // biCompression: bit fields
    for (const qel::testing::Bytes* file : {&deep, static_cast<const qel::testing::Bytes*>(&compressed)}) {
        qel::Raster raster;
        ASSERT_TRUE(raster.loadFromMemory(file->data(), file->size()));
        paintPattern(raster);
        MemorySurface surface(12, 10);
        ASSERT_TRUE(surface.ready());
        qel::win32::present(surface.dc(), raster, 2, 1);
        expectDrawnAt(surface, raster, 2, 1);
    }
    qel::Raster deepRaster;
    ASSERT_TRUE(deepRaster.loadFromMemory(deep.data(), deep.size()));
    EXPECT_EQ(deepRaster.bitCount(), 32) << "the case this test is about";
}

}  // namespace

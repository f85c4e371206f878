/*
 * The Explorer thumbnail handler: an in-process COM object that the shell
 * (Explorer, file dialogs, any program that asks for thumbnails) loads into
 * its own process. It takes the file as a stream (IInitializeWithStream),
 * decodes it with the core's streaming decoder, reading only what the zlib
 * stream needs, and hands back the picture as `qel thumbnail -s cx` draws
 * it (IThumbnailProvider): 32-bit, straight alpha, the key colour fully
 * transparent as 0,0,0,0.
 *
 * It runs inside someone else's process, so nothing it is given may crash,
 * hang or leak there: every failure is an HRESULT and no C++ exception
 * leaves a method.
 */
#pragma once

#include <windows.h>

#include <propsys.h>
#include <thumbcache.h>

#include <atomic>
#include <cstddef>
#include <cstdint>

#include "files/FileIo.h"

namespace qel::explorer {

// The largest thumbnail drawn, as `qel thumbnail -s` allows: 4096 x 4096 x
// 4 bytes is 64 MiB, and more than that is no thumbnail.
constexpr UINT kMaxThumbnailSize = 4096;

// Live objects (handlers and class factories) and server locks, for
// DllCanUnloadNow.
extern std::atomic<long> gObjectCount;
extern std::atomic<long> gLockCount;

// An IStream as the file layer's byte source. A failed read, or a stream
// that claims to have read more than it was asked for, is a read error.
class StreamSource final : public ByteSource {
public:
    explicit StreamSource(IStream* stream) : stream_(stream) {}
    bool read(std::uint8_t* buffer, std::size_t capacity, std::size_t& count) override;

private:
    IStream* stream_;
};

// The thumbnail of the packed file in stream, at most size x size, as a
// top-down 32-bit DIB section. S_OK with the bitmap; a failure HRESULT (and
// no bitmap) for a size outside 1 .. kMaxThumbnailSize, a stream that
// cannot be read, or any file the viewer would not show.
HRESULT thumbnailOfStream(IStream* stream, UINT size, HBITMAP* bitmap);

class ThumbnailProvider final : public IThumbnailProvider, public IInitializeWithStream {
public:
    ThumbnailProvider();
    ThumbnailProvider(const ThumbnailProvider&) = delete;
    ThumbnailProvider& operator=(const ThumbnailProvider&) = delete;

    // IUnknown
    IFACEMETHODIMP QueryInterface(REFIID iid, void** object) override;
    IFACEMETHODIMP_(ULONG) AddRef() override;
    IFACEMETHODIMP_(ULONG) Release() override;
    // IInitializeWithStream: once only; the stream is kept until the
    // handler is released, and each GetThumbnail reads it from the position
    // it had here.
    IFACEMETHODIMP Initialize(IStream* stream, DWORD mode) override;
    // IThumbnailProvider
    IFACEMETHODIMP GetThumbnail(UINT cx, HBITMAP* bitmap, WTS_ALPHATYPE* alpha) override;

private:
    ~ThumbnailProvider();

    static constexpr ULONGLONG kUnknownStart = ~0ull;

    std::atomic<ULONG> references_{1};
    IStream* stream_ = nullptr;
    ULONGLONG start_ = kUnknownStart;  // the stream's position when Initialize was given it
    bool read_ = false;                // a GetThumbnail has read from the stream
};

}  // namespace qel::explorer

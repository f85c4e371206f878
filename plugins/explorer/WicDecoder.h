/*
 * The WIC decoder: packed files for every program that reads pictures
 * through the Windows Imaging Component (photo viewers, WPF, paint
 * programs' import). An IWICBitmapDecoder whose one frame is the whole
 * picture that `qel extract --png` writes, in 32bppBGRA with the key colour
 * as (FF, 00, FF) at alpha 0: straight alpha, so the colour survives a
 * conversion that drops the alpha.
 *
 * Initialize reads the stream from its start (WIC's own pattern matching
 * leaves it elsewhere) through the core's streaming decoder, only as far as
 * the zlib stream goes, and keeps the picture, not the stream. Whatever the
 * stream does (short reads, failures, seeks it refuses) and whatever it
 * holds, a file the viewer would refuse fails with a WINCODEC_ERR code, as
 * does every call this format has no answer for (thumbnail, preview,
 * palette, colour contexts, metadata).
 *
 * ThreadingModel Both: a decoder's state is guarded, and a frame only reads
 * a picture that never changes once decoded. No C++ exception leaves a
 * method.
 */
#pragma once

#include <windows.h>

#include <wincodec.h>

namespace qel::explorer {

// A new decoder, asked for iid (the class factory's CreateInstance).
HRESULT createWicDecoder(REFIID iid, void** object);

}  // namespace qel::explorer

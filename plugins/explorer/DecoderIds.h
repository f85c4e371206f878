// The ids of the WIC decoder. The installer writes the same ids into the
// registry: cmake/Msi.cmake reads the QEL_*_TEXT lines of this file. Keep
// each text and its GUID the same id.
#pragma once

#include <guiddef.h>

// The decoder's class.
#define QEL_DECODER_CLSID_TEXT "{DC7F541F-6F40-41A2-B8D2-C0F6AAFBF01D}"
// The container format: what GetContainerFormat names a packed file by.
#define QEL_CONTAINER_FORMAT_TEXT "{C2B82262-A397-4D69-B48E-2DBE96A1CD5D}"
// The vendor of the codec, as WIC's component information shows it.
#define QEL_VENDOR_TEXT "{A5FA14A1-8649-49AA-A9F4-2E0F0ACB1E2C}"

namespace qel::explorer {

constexpr GUID kDecoderClsid = {0xdc7f541f, 0x6f40, 0x41a2, {0xb8, 0xd2, 0xc0, 0xf6, 0xaa, 0xfb, 0xf0, 0x1d}};
constexpr GUID kContainerFormat = {0xc2b82262, 0xa397, 0x4d69, {0xb4, 0x8e, 0x2d, 0xbe, 0x96, 0xa1, 0xcd, 0x5d}};

}  // namespace qel::explorer

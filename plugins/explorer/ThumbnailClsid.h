// The class id of the thumbnail handler. The installer writes the same id
// into the registry: cmake/Msi.cmake reads QEL_THUMBNAIL_CLSID_TEXT from
// this file. Keep the text and the GUID the same id: the installed test
// (scripts/test-msi.sh) creates the handler by the text the registry holds.
#pragma once

#include <guiddef.h>

#define QEL_THUMBNAIL_CLSID_TEXT "{86905683-C4C7-4EEC-A877-5FBC2564D733}"

namespace qel::explorer {

constexpr GUID kThumbnailClsid = {0x86905683, 0xc4c7, 0x4eec, {0xa8, 0x77, 0x5f, 0xbc, 0x25, 0x64, 0xd7, 0x33}};

}  // namespace qel::explorer

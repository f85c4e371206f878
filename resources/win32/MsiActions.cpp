/*
 * QelMsiActions.dll: the installer's own custom action, carried in the MSI's
 * Binary table and never installed. After the installer has written or
 * removed the .qel file type, it tells the shell that file associations
 * changed, so that Explorer shows the new type, icon and thumbnails at once
 * rather than after the next log-off. wixl has no other way to say this:
 * it writes file types as plain registry values, which the installer does
 * not announce itself.
 */
#include <windows.h>

#include <shlobj.h>

// The installer's handle (MSIHANDLE) is not needed.
extern "C" UINT WINAPI NotifyAssociationsChanged(unsigned long install) {
    static_cast<void>(install);
    SHChangeNotify(SHCNE_ASSOCCHANGED, SHCNF_IDLIST, nullptr, nullptr);
    return ERROR_SUCCESS;
}

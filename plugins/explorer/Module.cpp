// The DLL's COM entry points: class factories for the thumbnail handler and
// the WIC decoder, and the counts that tell the host when the DLL may be
// unloaded. Exported by name through QelThumbnail.def.
#include <windows.h>

#include <new>

#include "plugins/explorer/DecoderIds.h"
#include "plugins/explorer/ThumbnailClsid.h"
#include "plugins/explorer/ThumbnailProvider.h"
#include "plugins/explorer/WicDecoder.h"

namespace qel::explorer {
namespace {

// Makes a new object of one class and asks it for iid.
using CreateFunction = HRESULT (*)(REFIID iid, void** object);

HRESULT createThumbnailProvider(REFIID iid, void** object) {
    auto* provider = new (std::nothrow) ThumbnailProvider();
    if (!provider) return E_OUTOFMEMORY;
    const HRESULT result = provider->QueryInterface(iid, object);
    provider->Release();  // the caller's reference, if any, keeps it
    return result;
}

class ClassFactory final : public IClassFactory {
public:
    explicit ClassFactory(CreateFunction create) : create_(create) { ++gObjectCount; }
    ClassFactory(const ClassFactory&) = delete;
    ClassFactory& operator=(const ClassFactory&) = delete;

    IFACEMETHODIMP QueryInterface(REFIID iid, void** object) override {
        if (!object) return E_POINTER;
        if (IsEqualIID(iid, __uuidof(IUnknown)) || IsEqualIID(iid, __uuidof(IClassFactory))) {
            *object = static_cast<IClassFactory*>(this);
            AddRef();
            return S_OK;
        }
        *object = nullptr;
        return E_NOINTERFACE;
    }
    IFACEMETHODIMP_(ULONG) AddRef() override { return ++references_; }
    IFACEMETHODIMP_(ULONG) Release() override {
        const ULONG left = --references_;
        if (left == 0) delete this;
        return left;
    }

    IFACEMETHODIMP CreateInstance(IUnknown* outer, REFIID iid, void** object) override {
        if (!object) return E_POINTER;
        *object = nullptr;
        if (outer) return CLASS_E_NOAGGREGATION;
        return create_(iid, object);
    }
    IFACEMETHODIMP LockServer(BOOL lock) override {
        if (lock) {
            ++gLockCount;
        } else {
            --gLockCount;
        }
        return S_OK;
    }

private:
    ~ClassFactory() { --gObjectCount; }

    std::atomic<ULONG> references_{1};
    const CreateFunction create_;
};

}  // namespace
}  // namespace qel::explorer

// No DllMain of our own: the runtime's stays, and with it the thread
// notifications that the statically linked thread library needs to free
// each thread's data when the host's threads end.

extern "C" HRESULT WINAPI DllGetClassObject(REFCLSID clsid, REFIID iid, void** object) {
    if (!object) return E_POINTER;
    *object = nullptr;
    qel::explorer::CreateFunction create = nullptr;
    if (IsEqualCLSID(clsid, qel::explorer::kThumbnailClsid)) create = qel::explorer::createThumbnailProvider;
    if (IsEqualCLSID(clsid, qel::explorer::kDecoderClsid)) create = qel::explorer::createWicDecoder;
    if (!create) return CLASS_E_CLASSNOTAVAILABLE;
    auto* factory = new (std::nothrow) qel::explorer::ClassFactory(create);
    if (!factory) return E_OUTOFMEMORY;
    const HRESULT result = factory->QueryInterface(iid, object);
    factory->Release();
    return result;
}

extern "C" HRESULT WINAPI DllCanUnloadNow() {
    return qel::explorer::gObjectCount == 0 && qel::explorer::gLockCount == 0 ? S_OK : S_FALSE;
}

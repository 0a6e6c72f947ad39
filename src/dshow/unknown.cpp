#include "dshow/unknown.h"

#include <atomic>

namespace korvane {

namespace {

std::atomic<long> g_liveObjects{0};

// Gives the non-delegating side the IUnknown layout, so that an object that is not
// aggregated can be its own owner.
static_assert(sizeof(INonDelegatingUnknown) == sizeof(void*));

} // namespace

long liveObjectCount() {
    return g_liveObjects.load();
}

HRESULT GetInterface(IUnknown* unknown, void** ppv) {
    if (!ppv)
        return E_POINTER;
    *ppv = unknown;
    unknown->AddRef();
    return S_OK;
}

CUnknown::CUnknown(const wchar_t* objectName, IUnknown* outer)
    : name_(objectName),
      // An object that is not aggregated answers through its own non-delegating side: the
      // three methods sit in the same vtable slots as IUnknown's.
      owner_(outer ? outer
                   : reinterpret_cast<IUnknown*>(static_cast<INonDelegatingUnknown*>(this))) {
    ++g_liveObjects;
}

CUnknown::~CUnknown() {
    --g_liveObjects;
}

HRESULT STDMETHODCALLTYPE CUnknown::NonDelegatingQueryInterface(REFIID riid, void** ppv) {
    if (!ppv)
        return E_POINTER;
    if (riid == IID_IUnknown)
        return GetInterface(reinterpret_cast<IUnknown*>(static_cast<INonDelegatingUnknown*>(this)),
                            ppv);
    *ppv = nullptr;
    return E_NOINTERFACE;
}

ULONG STDMETHODCALLTYPE CUnknown::NonDelegatingAddRef() {
    return static_cast<ULONG>(InterlockedIncrement(&m_cRef));
}

ULONG STDMETHODCALLTYPE CUnknown::NonDelegatingRelease() {
    LONG ref = InterlockedDecrement(&m_cRef);
    if (ref == 0) {
        // Guards against a re-entrant release from the destructor.
        m_cRef = 1;
        delete this;
        return 0;
    }
    return static_cast<ULONG>(ref);
}

} // namespace korvane

#include "dshow/unknown.h"

#include <atomic>

namespace korvane {

namespace {

std::atomic<long> g_liveObjects{0};

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
    : name_(objectName), inner_(this), owner_(outer ? outer : &inner_) {
    ++g_liveObjects;
}

CUnknown::~CUnknown() {
    --g_liveObjects;
}

HRESULT STDMETHODCALLTYPE CUnknown::NonDelegatingQueryInterface(REFIID riid, void** ppv) {
    if (!ppv)
        return E_POINTER;
    if (riid == IID_IUnknown)
        return GetInterface(&inner_, ppv);
    *ppv = nullptr;
    return E_NOINTERFACE;
}

ULONG STDMETHODCALLTYPE CUnknown::NonDelegatingAddRef() {
    return static_cast<ULONG>(InterlockedIncrement(&m_cRef));
}

ULONG STDMETHODCALLTYPE CUnknown::NonDelegatingRelease() {
    LONG ref = InterlockedDecrement(&m_cRef);
    if (ref == 0) {
        // Guards against a re-entrant release from FinalRelease or the destructor.
        m_cRef = 1;
        FinalRelease();
        delete this;
        return 0;
    }
    return static_cast<ULONG>(ref);
}

} // namespace korvane

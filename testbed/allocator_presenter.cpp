#include "allocator_presenter.h"

#include "testbed_settings.h"

#include <new>

namespace korvane::testbed {

namespace {

// ForceOffscreen and ForceOverlays contradict each other; the reserved bit is not for callers.
bool validRenderingPrefs(DWORD prefs) {
    if (prefs & ~DWORD(RenderPrefs_Mask))
        return false;
    if (prefs & RenderPrefs_Reserved)
        return false;
    return (prefs & (RenderPrefs_ForceOffscreen | RenderPrefs_ForceOverlays)) !=
           (RenderPrefs_ForceOffscreen | RenderPrefs_ForceOverlays);
}

} // namespace

CUnknown* AllocatorPresenter::CreateInstance(IUnknown* outer, HRESULT* phr) {
    if (outer) {
        *phr = CLASS_E_NOAGGREGATION;
        return nullptr;
    }
    return new (std::nothrow) AllocatorPresenter(outer, faultActive(Fault::PresenterPrefsFail));
}

AllocatorPresenter::AllocatorPresenter(IUnknown* outer, bool prefsFail)
    : CUnknown(L"Allocateur-présentateur de test", outer), prefsFail_(prefsFail) {}

HRESULT STDMETHODCALLTYPE AllocatorPresenter::NonDelegatingQueryInterface(REFIID riid, void** ppv) {
    if (riid == IID_IVMRSurfaceAllocator)
        return GetInterface(static_cast<IVMRSurfaceAllocator*>(this), ppv);
    if (riid == IID_IVMRImagePresenterConfig)
        return GetInterface(static_cast<IVMRImagePresenterConfig*>(this), ppv);
    if (riid == kIidPresenterLink)
        return GetInterface(static_cast<IPresenterLink*>(this), ppv);
    return CUnknown::NonDelegatingQueryInterface(riid, ppv);
}

HRESULT STDMETHODCALLTYPE AllocatorPresenter::AllocateSurface(DWORD_PTR, VMRALLOCATIONINFO* info,
                                                              DWORD* buffers,
                                                              LPDIRECTDRAWSURFACE7* surface) {
    if (!info || !buffers || !surface)
        return E_POINTER;
    *surface = nullptr;
    return VFW_E_DDRAW_CAPS_NOT_SUITABLE;
}

HRESULT STDMETHODCALLTYPE AllocatorPresenter::FreeSurface(DWORD_PTR) {
    return S_OK;
}

HRESULT STDMETHODCALLTYPE AllocatorPresenter::PrepareSurface(DWORD_PTR,
                                                             LPDIRECTDRAWSURFACE7 surface, DWORD) {
    return surface ? S_OK : E_POINTER;
}

HRESULT STDMETHODCALLTYPE AllocatorPresenter::AdviseNotify(IVMRSurfaceAllocatorNotify* notify) {
    ComPtr<IVMRSurfaceAllocatorNotify> held(notify);
    // Our own renderer holds this presenter once advised: holding it back would make a cycle
    // that no release ever breaks.
    if (notify) {
        ComPtr<IRendererLink> ours;
        if (SUCCEEDED(notify->QueryInterface(kIidRendererLink, ours.putVoid())))
            held = nullptr;
    }
    CAutoLock lock(&lock_);
    notify_.swap(held);
    return S_OK;
}

HRESULT STDMETHODCALLTYPE AllocatorPresenter::SetRenderingPrefs(DWORD prefs) {
    if (prefsFail_)
        return E_FAIL;
    if (!validRenderingPrefs(prefs))
        return E_INVALIDARG;
    CAutoLock lock(&lock_);
    prefs_ = prefs;
    prefsSet_ = true;
    // Under the lock, so that the renderer cannot detach itself and go meanwhile.
    if (renderer_)
        renderer_->PresenterPrefsSet(prefs);
    return S_OK;
}

HRESULT STDMETHODCALLTYPE AllocatorPresenter::GetRenderingPrefs(DWORD* prefs) {
    if (!prefs)
        return E_POINTER;
    CAutoLock lock(&lock_);
    *prefs = prefs_;
    return S_OK;
}

void STDMETHODCALLTYPE AllocatorPresenter::AttachRenderer(IRendererLink* renderer) {
    CAutoLock lock(&lock_);
    renderer_ = renderer;
}

void STDMETHODCALLTYPE AllocatorPresenter::DetachRenderer(IRendererLink* renderer) {
    CAutoLock lock(&lock_);
    if (renderer_ == renderer)
        renderer_ = nullptr;
}

HRESULT STDMETHODCALLTYPE AllocatorPresenter::GetPrefsIfSet(DWORD* prefs) {
    if (!prefs)
        return E_POINTER;
    CAutoLock lock(&lock_);
    *prefs = prefs_;
    return prefsSet_ ? S_OK : S_FALSE;
}

} // namespace korvane::testbed

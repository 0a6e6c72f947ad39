#pragma once

// Stand-in for the platform's default allocator-presenter of the first-generation Video
// Mixing Renderer (CLSID_AllocPresenter). The renderer stand-in draws its pictures itself,
// with GDI; what the presenter keeps is what a program configures on it: the rendering
// preferences and the notification interface it is advised.

#include "dshow/com_ptr.h"
#include "dshow/sync.h"
#include "dshow/unknown.h"
#include "vmr_link.h"

#include "dshow/platform.h"

namespace korvane::testbed {

inline constexpr CLSID kClsidAllocPresenter = {
    0x99d54f63, 0x1a69, 0x41ae, {0xaa, 0x4d, 0xc9, 0x76, 0xeb, 0x3f, 0x07, 0x13}};

class AllocatorPresenter : public CUnknown,
                           public IVMRSurfaceAllocator,
                           public IVMRImagePresenterConfig,
                           public IPresenterLink {
  public:
    static CUnknown* CreateInstance(IUnknown* outer, HRESULT* phr);

    DECLARE_IUNKNOWN
    HRESULT STDMETHODCALLTYPE NonDelegatingQueryInterface(REFIID riid, void** ppv) override;

    // IVMRSurfaceAllocator. There is no DirectDraw here: the renderer stand-in asks for no
    // surface, and a caller that does is told so.
    HRESULT STDMETHODCALLTYPE AllocateSurface(DWORD_PTR userId, VMRALLOCATIONINFO* info,
                                              DWORD* buffers,
                                              LPDIRECTDRAWSURFACE7* surface) override;
    HRESULT STDMETHODCALLTYPE FreeSurface(DWORD_PTR userId) override;
    HRESULT STDMETHODCALLTYPE PrepareSurface(DWORD_PTR userId, LPDIRECTDRAWSURFACE7 surface,
                                             DWORD flags) override;
    HRESULT STDMETHODCALLTYPE AdviseNotify(IVMRSurfaceAllocatorNotify* notify) override;

    // IVMRImagePresenterConfig
    HRESULT STDMETHODCALLTYPE SetRenderingPrefs(DWORD prefs) override;
    HRESULT STDMETHODCALLTYPE GetRenderingPrefs(DWORD* prefs) override;

    // IPresenterLink
    void STDMETHODCALLTYPE AttachRenderer(IRendererLink* renderer) override;
    void STDMETHODCALLTYPE DetachRenderer(IRendererLink* renderer) override;
    HRESULT STDMETHODCALLTYPE GetPrefsIfSet(DWORD* prefs) override;

  private:
    AllocatorPresenter(IUnknown* outer, bool prefsFail);

    const bool prefsFail_;
    CCritSec lock_;
    DWORD prefs_ = 0;
    bool prefsSet_ = false;
    IRendererLink* renderer_ = nullptr;         // not counted: the renderer holds us
    ComPtr<IVMRSurfaceAllocatorNotify> notify_; // another renderer's only; ours is not held
};

} // namespace korvane::testbed

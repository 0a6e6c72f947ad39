#pragma once

// The decoders' property page: what a decoder has done so far (pictures or audio frames
// delivered, errors, input dropped) and the format it delivers, refreshed twice a second.

#include "decoder_guids.h"
#include "dshow/com_ptr.h"
#include "dshow/unknown.h"

#include <ocidl.h>

namespace korvane::testbed {

class DecoderPage : public CUnknown, public IPropertyPage {
  public:
    static CUnknown* CreateInstance(IUnknown* outer, HRESULT* phr);
    ~DecoderPage() override;

    DECLARE_IUNKNOWN
    HRESULT STDMETHODCALLTYPE NonDelegatingQueryInterface(REFIID riid, void** ppv) override;

    HRESULT STDMETHODCALLTYPE SetPageSite(IPropertyPageSite* site) override;
    HRESULT STDMETHODCALLTYPE Activate(HWND parent, LPCRECT rect, BOOL modal) override;
    HRESULT STDMETHODCALLTYPE Deactivate() override;
    HRESULT STDMETHODCALLTYPE GetPageInfo(PROPPAGEINFO* info) override;
    HRESULT STDMETHODCALLTYPE SetObjects(ULONG count, IUnknown** objects) override;
    HRESULT STDMETHODCALLTYPE Show(UINT command) override;
    HRESULT STDMETHODCALLTYPE Move(LPCRECT rect) override;
    HRESULT STDMETHODCALLTYPE IsPageDirty() override { return S_FALSE; }
    HRESULT STDMETHODCALLTYPE Apply() override { return S_OK; }
    HRESULT STDMETHODCALLTYPE Help(LPCOLESTR) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE TranslateAccelerator(MSG*) override { return S_FALSE; }

  private:
    DecoderPage(IUnknown* outer);
    static void CALLBACK onTimer(HWND window, UINT, UINT_PTR, DWORD);
    void refresh();

    static constexpr int kLines = 4;
    ComPtr<IPropertyPageSite> site_;
    ComPtr<IDecoderStatistics> statistics_;
    HWND lines_[kLines] = {}; // children of the frame's page, while active
};

} // namespace korvane::testbed

#pragma once

// A property page that any testbed filter can list in ISpecifyPropertyPages: it shows the
// labelled values the filter gives through IStatisticsSource, refreshed twice a second.

#include "dshow/com_ptr.h"
#include "dshow/unknown.h"

#include <ocidl.h>

#include <string>
#include <vector>

namespace korvane::testbed {

// {4B6F7276-616E-4501-9E51-546573746220}
inline constexpr CLSID kClsidStatisticsPage = {
    0x4b6f7276, 0x616e, 0x4501, {0x9e, 0x51, 0x54, 0x65, 0x73, 0x74, 0x62, 0x20}};
// {4B6F7276-616E-4501-9E51-546573746221}
inline constexpr IID kIidStatisticsSource = {
    0x4b6f7276, 0x616e, 0x4501, {0x9e, 0x51, 0x54, 0x65, 0x73, 0x74, 0x62, 0x21}};

// What a filter shows on its page: a title, and lines "label\tvalue" separated by '\n'.
// Both texts are CoTaskMemAlloc'ed; the caller frees them.
struct IStatisticsSource : IUnknown {
    virtual HRESULT STDMETHODCALLTYPE GetStatistics(LPWSTR* title, LPWSTR* lines) = 0;
};

// Hands out a copy of `text` in CoTaskMem memory, as GetStatistics returns its texts.
HRESULT copyToTaskMemory(const std::wstring& text, LPWSTR* out);

// ISpecifyPropertyPages::GetPages of a filter whose one page is the statistics page.
HRESULT listStatisticsPage(CAUUID* pages);

class StatisticsPage : public CUnknown, public IPropertyPage {
  public:
    static CUnknown* CreateInstance(IUnknown* outer, HRESULT* phr);
    ~StatisticsPage() override;

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
    explicit StatisticsPage(IUnknown* outer);
    static INT_PTR CALLBACK dialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    // Reads the source again and updates the labels and values shown.
    void refresh();

    ComPtr<IPropertyPageSite> site_;
    ComPtr<IStatisticsSource> source_;
    HWND window_ = nullptr;
    std::vector<HWND> labels_;
    std::vector<HWND> values_;
};

} // namespace korvane::testbed

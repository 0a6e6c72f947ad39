#include "decoder_page.h"

#include <cstring>
#include <cwchar>

namespace korvane::testbed {

namespace {

constexpr wchar_t kPageProperty[] = L"KorvaneDecoderPage";
constexpr UINT_PTR kRefreshTimer = 1;
constexpr int kLineHeight = 20;

wchar_t* task_copy(const wchar_t* text) {
    size_t bytes = (std::wcslen(text) + 1) * sizeof(wchar_t);
    auto* copy = static_cast<wchar_t*>(CoTaskMemAlloc(bytes));
    if (copy)
        std::memcpy(copy, text, bytes);
    return copy;
}

} // namespace

CUnknown* DecoderPage::CreateInstance(IUnknown* outer, HRESULT*) {
    return new DecoderPage(outer);
}

DecoderPage::DecoderPage(IUnknown* outer) : CUnknown(L"Decoder page", outer) {}

DecoderPage::~DecoderPage() {
    Deactivate();
}

HRESULT STDMETHODCALLTYPE DecoderPage::NonDelegatingQueryInterface(REFIID riid, void** ppv) {
    if (riid == IID_IPropertyPage)
        return GetInterface(static_cast<IPropertyPage*>(this), ppv);
    return CUnknown::NonDelegatingQueryInterface(riid, ppv);
}

HRESULT STDMETHODCALLTYPE DecoderPage::SetPageSite(IPropertyPageSite* site) {
    site_ = ComPtr<IPropertyPageSite>(site);
    return S_OK;
}

HRESULT STDMETHODCALLTYPE DecoderPage::SetObjects(ULONG count, IUnknown** objects) {
    if (count == 0) {
        statistics_ = nullptr;
        return S_OK;
    }
    if (!objects || !objects[0])
        return E_POINTER;
    ComPtr<IDecoderStatistics> statistics;
    HRESULT hr = objects[0]->QueryInterface(kIidDecoderStatistics, statistics.putVoid());
    if (FAILED(hr))
        return hr;
    statistics_ = statistics;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE DecoderPage::GetPageInfo(PROPPAGEINFO* info) {
    if (!info)
        return E_POINTER;
    info->cb = sizeof(PROPPAGEINFO);
    info->pszTitle = task_copy(L"Décodeur");
    info->size = {300, kLines * kLineHeight + 20};
    info->pszDocString = nullptr;
    info->pszHelpFile = nullptr;
    info->dwHelpContext = 0;
    return info->pszTitle ? S_OK : E_OUTOFMEMORY;
}

HRESULT STDMETHODCALLTYPE DecoderPage::Activate(HWND parent, LPCRECT rect, BOOL) {
    if (!rect)
        return E_POINTER;
    if (window_)
        return E_UNEXPECTED;
    // A plain static container: no window class of ours to register and unregister.
    window_ = CreateWindowExW(WS_EX_CONTROLPARENT, L"STATIC", L"", WS_CHILD | WS_CLIPCHILDREN,
                              rect->left, rect->top, rect->right - rect->left,
                              rect->bottom - rect->top, parent, nullptr, nullptr, nullptr);
    if (!window_)
        return E_FAIL;
    auto font = WPARAM(SendMessageW(parent, WM_GETFONT, 0, 0));
    for (int i = 0; i < kLines; ++i) {
        lines_[i] = CreateWindowExW(0, L"STATIC", L"", WS_CHILD | WS_VISIBLE | SS_LEFT, 10,
                                    10 + i * kLineHeight, 280, kLineHeight - 2, window_, nullptr,
                                    nullptr, nullptr);
        if (lines_[i] && font)
            SendMessageW(lines_[i], WM_SETFONT, font, FALSE);
    }
    SetPropW(window_, kPageProperty, this);
    SetTimer(window_, kRefreshTimer, 500, &DecoderPage::onTimer);
    refresh();
    return S_OK;
}

HRESULT STDMETHODCALLTYPE DecoderPage::Deactivate() {
    if (!window_)
        return S_OK;
    KillTimer(window_, kRefreshTimer);
    RemovePropW(window_, kPageProperty);
    DestroyWindow(window_);
    window_ = nullptr;
    for (HWND& line : lines_)
        line = nullptr;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE DecoderPage::Show(UINT command) {
    if (!window_)
        return E_UNEXPECTED;
    ShowWindow(window_, int(command));
    return S_OK;
}

HRESULT STDMETHODCALLTYPE DecoderPage::Move(LPCRECT rect) {
    if (!rect)
        return E_POINTER;
    if (!window_)
        return E_UNEXPECTED;
    MoveWindow(window_, rect->left, rect->top, rect->right - rect->left, rect->bottom - rect->top,
               TRUE);
    return S_OK;
}

void CALLBACK DecoderPage::onTimer(HWND window, UINT, UINT_PTR, DWORD) {
    if (auto* page = static_cast<DecoderPage*>(GetPropW(window, kPageProperty)))
        page->refresh();
}

void DecoderPage::refresh() {
    DecoderStatistics s{};
    if (!statistics_ || FAILED(statistics_->GetStatistics(&s)))
        return;
    wchar_t texts[kLines][128];
    std::swprintf(texts[0], 128, L"%ls : %ld", s.video ? L"Images décodées" : L"Trames décodées",
                  long(s.delivered));
    std::swprintf(texts[1], 128, L"Erreurs : %ld", long(s.errors));
    std::swprintf(texts[2], 128, L"Échantillons perdus : %ld", long(s.dropped));
    std::swprintf(texts[3], 128, L"Format : %ls", s.format);
    for (int i = 0; i < kLines; ++i) {
        wchar_t shown[128] = {};
        GetWindowTextW(lines_[i], shown, 128);
        if (std::wcscmp(shown, texts[i]) != 0)
            SetWindowTextW(lines_[i], texts[i]);
    }
}

} // namespace korvane::testbed

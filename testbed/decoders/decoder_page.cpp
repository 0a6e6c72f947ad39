#include "decoder_page.h"

#include <algorithm>
#include <cstring>
#include <cwchar>

namespace korvane::testbed {

namespace {

constexpr wchar_t kPageProperty[] = L"KorvaneDecoderPage";
constexpr UINT_PTR kRefreshTimer = 1;
constexpr int kLineHeight = 20;
constexpr int kMargin = 10;

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
    info->size = {340, kLines * kLineHeight + 2 * kMargin};
    info->pszDocString = nullptr;
    info->pszHelpFile = nullptr;
    info->dwHelpContext = 0;
    return info->pszTitle ? S_OK : E_OUTOFMEMORY;
}

HRESULT STDMETHODCALLTYPE DecoderPage::Activate(HWND parent, LPCRECT rect, BOOL) {
    if (!rect)
        return E_POINTER;
    if (lines_[0])
        return E_UNEXPECTED;
    // Plain static controls on the frame's page: no window class of ours to register, and
    // the page's own background and font.
    auto font = WPARAM(SendMessageW(parent, WM_GETFONT, 0, 0));
    if (!font)
        font = WPARAM(GetStockObject(DEFAULT_GUI_FONT));
    for (HWND& line : lines_) {
        line = CreateWindowExW(0, L"STATIC", L"", WS_CHILD | SS_LEFT | SS_ENDELLIPSIS, 0, 0, 0, 0,
                               parent, nullptr, nullptr, nullptr);
        if (!line) {
            Deactivate();
            return E_FAIL;
        }
        SendMessageW(line, WM_SETFONT, font, FALSE);
    }
    Move(rect);
    SetPropW(lines_[0], kPageProperty, this);
    SetTimer(lines_[0], kRefreshTimer, 500, &DecoderPage::onTimer);
    refresh();
    return S_OK;
}

HRESULT STDMETHODCALLTYPE DecoderPage::Deactivate() {
    if (lines_[0]) {
        KillTimer(lines_[0], kRefreshTimer);
        RemovePropW(lines_[0], kPageProperty);
    }
    for (HWND& line : lines_) {
        if (line)
            DestroyWindow(line);
        line = nullptr;
    }
    return S_OK;
}

HRESULT STDMETHODCALLTYPE DecoderPage::Show(UINT command) {
    if (!lines_[0])
        return E_UNEXPECTED;
    for (HWND line : lines_)
        ShowWindow(line, int(command));
    return S_OK;
}

HRESULT STDMETHODCALLTYPE DecoderPage::Move(LPCRECT rect) {
    if (!rect)
        return E_POINTER;
    if (!lines_[0])
        return E_UNEXPECTED;
    int width = std::max(0, int(rect->right - rect->left) - 2 * kMargin);
    for (int i = 0; i < kLines; ++i)
        MoveWindow(lines_[i], rect->left + kMargin, rect->top + kMargin + i * kLineHeight, width,
                   kLineHeight - 2, TRUE);
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

#include "statistics_page.h"

#include <algorithm>
#include <cstring>
#include <new>

extern "C" IMAGE_DOS_HEADER __ImageBase;

namespace korvane::testbed {

namespace {

constexpr UINT_PTR kRefreshTimer = 1;
constexpr UINT kRefreshMs = 500;
constexpr int kRowHeight = 20;
constexpr int kMargin = 10;
constexpr int kLabelWidth = 150;
constexpr SIZE kPageSize = {340, 200};

HINSTANCE thisModule() {
    return reinterpret_cast<HINSTANCE>(&__ImageBase);
}

// A dialog template without controls: the page makes its rows itself.
struct alignas(4) EmptyDialog {
    DLGTEMPLATE header;
    WORD menu = 0;
    WORD windowClass = 0;
    WORD title = 0;
};

struct Row {
    std::wstring label;
    std::wstring value;
};

std::vector<Row> splitRows(const wchar_t* text) {
    std::vector<Row> rows;
    std::wstring all = text ? text : L"";
    size_t start = 0;
    while (start < all.size()) {
        size_t end = all.find(L'\n', start);
        if (end == std::wstring::npos)
            end = all.size();
        std::wstring line = all.substr(start, end - start);
        size_t tab = line.find(L'\t');
        if (tab == std::wstring::npos)
            rows.push_back({line, L""});
        else
            rows.push_back({line.substr(0, tab), line.substr(tab + 1)});
        start = end + 1;
    }
    return rows;
}

void setTextIfChanged(HWND control, const std::wstring& text) {
    int length = GetWindowTextLengthW(control);
    std::wstring shown(size_t(length) + 1, L'\0');
    GetWindowTextW(control, shown.data(), length + 1);
    shown.resize(size_t(length));
    if (shown != text)
        SetWindowTextW(control, text.c_str());
}

HWND makeStatic(HWND parent, int x, int y, int width) {
    HWND control = CreateWindowExW(0, L"STATIC", L"", WS_CHILD | WS_VISIBLE | SS_LEFT, x, y, width,
                                   kRowHeight - 2, parent, nullptr, thisModule(), nullptr);
    if (control)
        SendMessageW(control, WM_SETFONT, WPARAM(GetStockObject(DEFAULT_GUI_FONT)), FALSE);
    return control;
}

} // namespace

HRESULT copyToTaskMemory(const std::wstring& text, LPWSTR* out) {
    if (!out)
        return E_POINTER;
    size_t bytes = (text.size() + 1) * sizeof(wchar_t);
    *out = static_cast<LPWSTR>(CoTaskMemAlloc(bytes));
    if (!*out)
        return E_OUTOFMEMORY;
    std::memcpy(*out, text.c_str(), bytes);
    return S_OK;
}

HRESULT listStatisticsPage(CAUUID* pages) {
    if (!pages)
        return E_POINTER;
    pages->pElems = static_cast<GUID*>(CoTaskMemAlloc(sizeof(GUID)));
    if (!pages->pElems) {
        pages->cElems = 0;
        return E_OUTOFMEMORY;
    }
    pages->cElems = 1;
    pages->pElems[0] = kClsidStatisticsPage;
    return S_OK;
}

CUnknown* StatisticsPage::CreateInstance(IUnknown* outer, HRESULT* phr) {
    if (outer) {
        *phr = CLASS_E_NOAGGREGATION;
        return nullptr;
    }
    return new (std::nothrow) StatisticsPage(outer);
}

StatisticsPage::StatisticsPage(IUnknown* outer) : CUnknown(L"Page de statistiques", outer) {}

StatisticsPage::~StatisticsPage() {
    if (window_)
        DestroyWindow(window_);
}

HRESULT STDMETHODCALLTYPE StatisticsPage::NonDelegatingQueryInterface(REFIID riid, void** ppv) {
    if (riid == IID_IPropertyPage)
        return GetInterface(static_cast<IPropertyPage*>(this), ppv);
    return CUnknown::NonDelegatingQueryInterface(riid, ppv);
}

HRESULT STDMETHODCALLTYPE StatisticsPage::SetPageSite(IPropertyPageSite* site) {
    if (site && site_)
        return E_UNEXPECTED;
    site_ = ComPtr<IPropertyPageSite>(site);
    return S_OK;
}

HRESULT STDMETHODCALLTYPE StatisticsPage::Activate(HWND parent, LPCRECT rect, BOOL) {
    if (!rect)
        return E_POINTER;
    if (window_)
        return E_UNEXPECTED;
    EmptyDialog dialog{};
    dialog.header.style = WS_CHILD | DS_CONTROL;
    window_ = CreateDialogIndirectParamW(thisModule(), &dialog.header, parent, dialogProc,
                                         reinterpret_cast<LPARAM>(this));
    if (!window_)
        return E_OUTOFMEMORY;
    Move(rect);
    refresh();
    return S_OK;
}

HRESULT STDMETHODCALLTYPE StatisticsPage::Deactivate() {
    if (!window_)
        return E_UNEXPECTED;
    DestroyWindow(window_);
    window_ = nullptr;
    labels_.clear();
    values_.clear();
    return S_OK;
}

HRESULT STDMETHODCALLTYPE StatisticsPage::GetPageInfo(PROPPAGEINFO* info) {
    if (!info)
        return E_POINTER;
    std::wstring title = L"Statistiques";
    if (source_) {
        LPWSTR sourceTitle = nullptr;
        LPWSTR lines = nullptr;
        if (SUCCEEDED(source_->GetStatistics(&sourceTitle, &lines)) && sourceTitle)
            title = sourceTitle;
        CoTaskMemFree(sourceTitle);
        CoTaskMemFree(lines);
    }
    std::memset(info, 0, sizeof(*info));
    info->cb = sizeof(*info);
    info->size = kPageSize;
    return copyToTaskMemory(title, &info->pszTitle);
}

HRESULT STDMETHODCALLTYPE StatisticsPage::SetObjects(ULONG count, IUnknown** objects) {
    if (count == 0) {
        source_ = nullptr;
        return S_OK;
    }
    if (!objects || !objects[0])
        return E_POINTER;
    ComPtr<IStatisticsSource> source;
    HRESULT hr = objects[0]->QueryInterface(kIidStatisticsSource, source.putVoid());
    if (FAILED(hr))
        return hr;
    source_ = std::move(source);
    refresh();
    return S_OK;
}

HRESULT STDMETHODCALLTYPE StatisticsPage::Show(UINT command) {
    if (!window_)
        return E_UNEXPECTED;
    ShowWindow(window_, int(command));
    return S_OK;
}

HRESULT STDMETHODCALLTYPE StatisticsPage::Move(LPCRECT rect) {
    if (!rect)
        return E_POINTER;
    if (!window_)
        return E_UNEXPECTED;
    MoveWindow(window_, rect->left, rect->top, rect->right - rect->left, rect->bottom - rect->top,
               TRUE);
    return S_OK;
}

INT_PTR CALLBACK StatisticsPage::dialogProc(HWND window, UINT message, WPARAM wParam,
                                            LPARAM lParam) {
    switch (message) {
    case WM_INITDIALOG:
        SetWindowLongPtrW(window, DWLP_USER, lParam);
        SetTimer(window, kRefreshTimer, kRefreshMs, nullptr);
        return FALSE;
    case WM_TIMER:
        if (wParam == kRefreshTimer) {
            if (auto* page =
                    reinterpret_cast<StatisticsPage*>(GetWindowLongPtrW(window, DWLP_USER)))
                page->refresh();
            return TRUE;
        }
        return FALSE;
    case WM_DESTROY:
        KillTimer(window, kRefreshTimer);
        SetWindowLongPtrW(window, DWLP_USER, 0);
        return FALSE;
    default:
        return FALSE;
    }
}

void StatisticsPage::refresh() {
    if (!window_ || !source_)
        return;
    LPWSTR title = nullptr;
    LPWSTR lines = nullptr;
    if (FAILED(source_->GetStatistics(&title, &lines))) {
        CoTaskMemFree(title);
        CoTaskMemFree(lines);
        return;
    }
    std::vector<Row> rows = splitRows(lines);
    CoTaskMemFree(title);
    CoTaskMemFree(lines);
    RECT client{};
    GetClientRect(window_, &client);
    int valueWidth = std::max(40, int(client.right) - 2 * kMargin - kLabelWidth);
    while (labels_.size() < rows.size()) {
        int y = kMargin + int(labels_.size()) * kRowHeight;
        labels_.push_back(makeStatic(window_, kMargin, y, kLabelWidth));
        values_.push_back(makeStatic(window_, kMargin + kLabelWidth, y, valueWidth));
    }
    for (size_t i = 0; i < labels_.size(); ++i) {
        setTextIfChanged(labels_[i], i < rows.size() ? rows[i].label : L"");
        setTextIfChanged(values_[i], i < rows.size() ? rows[i].value : L"");
    }
}

} // namespace korvane::testbed

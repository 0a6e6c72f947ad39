#include "app/win/shell_commands.h"

#include "app/win/app_state.h"
#include "app/win/config_store.h"
#include "common/win/show_error.h"
#include "common/win/wide_text.h"
#include "dshow/com_ptr.h"
#include "graph/media_graph.h"
#include "res/resource.h"

#include <ocidl.h>
#include <olectl.h>
#include <shlobj.h>

#include <string>

namespace korvane {

namespace {

// Frees a shell item list when it goes out of scope.
struct ItemList {
    PIDLIST_ABSOLUTE items = nullptr;
    ~ItemList() {
        if (items)
            CoTaskMemFree(items);
    }
};

// Frees the page array that GetPages allocates.
struct PageList {
    CAUUID pages{0, nullptr};
    ~PageList() {
        if (pages.pElems)
            CoTaskMemFree(pages.pElems);
    }
};

// A "Filtres" command: the graph filter whose pages it shows, and the frame's caption: the
// name the filter was configured by (a decoder), or else its role.
struct FilterPages {
    UINT command;
    ComPtr<IBaseFilter> MediaGraph::*filter;
    std::u16string AppConfig::*configuredName;
    const wchar_t* role;
};

const FilterPages kFilterPages[] = {
    {IDM_VIDEO_DECODER_PAGES, &MediaGraph::videoCodec, &AppConfig::videoDecoderName, nullptr},
    {IDM_AUDIO_DECODER_PAGES, &MediaGraph::audioCodec, &AppConfig::audioDecoderName, nullptr},
    {IDM_AC3_DECODER_PAGES, &MediaGraph::ac3Codec, &AppConfig::ac3DecoderName, nullptr},
    {IDM_VMR_PAGES, &MediaGraph::vmr, nullptr, L"VMR"},
    {IDM_DSOUND_PAGES, &MediaGraph::audioRenderer, nullptr, L"Direct sound"},
    {IDM_DSOUND_AC3_PAGES, &MediaGraph::ac3Renderer, nullptr, L"Direct sound AC3"},
    {IDM_DEMUX_PAGES, &MediaGraph::demux, nullptr, L"Demux"},
};

} // namespace

void chooseFolder(HWND owner, UINT command) {
    const bool video = command == IDM_VIDEO_FOLDER;
    wchar_t displayName[MAX_PATH] = {};
    BROWSEINFOW browse{};
    browse.hwndOwner = owner;
    browse.pidlRoot = nullptr;
    browse.pszDisplayName = displayName;
    browse.lpszTitle =
        video ? L"Choisissez le répertoire où seront enregistrées les vidéos :"
              : L"Choisissez le répertoire où seront enregistrées les captures d'écran :";
    browse.ulFlags = BIF_RETURNONLYFSDIRS;
    ShowCursor(TRUE);
    ItemList chosen{SHBrowseForFolderW(&browse)};
    ShowCursor(FALSE);
    if (!chosen.items)
        return;
    // A choice without a file-system path (it empties the buffer) keeps the folder we had:
    // an empty folder would put the files at the root of the current drive.
    wchar_t path[MAX_PATH] = {};
    if (!SHGetPathFromIDListW(chosen.items, path) || path[0] == L'\0')
        return;
    AppConfig& config = appConfig();
    (video ? config.videoFolder : config.screenshotFolder) = toU16(path);
    saveConfig();
}

void showFilterProperties(IUnknown* filter, const wchar_t* caption) {
    if (!filter) {
        showError(L"Il faut d'abord configurer un filtre et redémarrer l'application");
        return;
    }
    ComPtr<ISpecifyPropertyPages> specify;
    if (FAILED(filter->QueryInterface(IID_ISpecifyPropertyPages, specify.putVoid())) || !specify) {
        showError(L"Ce filtre n'a pas de property page");
        return;
    }
    PageList list;
    if (FAILED(specify->GetPages(&list.pages)))
        list.pages = CAUUID{0, nullptr};
    // A filter that offers the interface but no page would open an empty frame.
    if (list.pages.cElems == 0 || !list.pages.pElems) {
        showError(L"Ce filtre n'a pas de property page");
        return;
    }
    ComPtr<IUnknown> object;
    filter->QueryInterface(IID_IUnknown, object.putVoid());
    IUnknown* objects[] = {object.get()};
    ShowCursor(TRUE);
    HRESULT result = OleCreatePropertyFrame(appState().mainWindow, 10, 10, caption, 1, objects,
                                            list.pages.cElems, list.pages.pElems,
                                            GetUserDefaultLCID(), 0, nullptr);
    ShowCursor(FALSE);
    if (FAILED(result))
        showError(L"Erreur lors de la création de la property page");
}

void showFilterPages(UINT command) {
    for (const FilterPages& pages : kFilterPages) {
        if (pages.command != command)
            continue;
        const std::wstring caption =
            pages.configuredName ? toWide(appConfig().*pages.configuredName) : pages.role;
        showFilterProperties((mediaGraph().*pages.filter).get(), caption.c_str());
        return;
    }
}

} // namespace korvane

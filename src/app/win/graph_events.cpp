#include "app/win/graph_events.h"

#include "app/win/recording_commands.h"
#include "graph/media_graph.h"

#include <evcode.h>

namespace korvane {

namespace {

const wchar_t* kDeviceLostText =
    L"Le tuner a été débranché ou ne répond plus. Un enregistrement en cours est arrêté ; "
    L"son fichier est complet jusqu'à ce moment.";
const wchar_t* kErrorAbortText =
    L"Le graph s'est arrêté sur une erreur. Un enregistrement en cours est arrêté ; son "
    L"fichier est complet jusqu'à ce moment.";

// The text an event calls for; null for events that ask nothing of the program.
const wchar_t* eventText(long code, LONG_PTR second) {
    // EC_DEVICE_LOST's second parameter is 0 when the device went, 1 when it came back.
    if (code == EC_DEVICE_LOST && second == 0)
        return kDeviceLostText;
    if (code == EC_ERRORABORT)
        return kErrorAbortText;
    return nullptr;
}

} // namespace

void onGraphEvents() {
    IMediaEventEx* events = mediaGraph().mediaEvent.get();
    if (events == nullptr)
        return;
    long code = 0;
    LONG_PTR first = 0, second = 0;
    // Every event is fetched and freed first: a message box below runs a message loop, and
    // this handler may be entered again from it.
    const wchar_t* text = nullptr;
    while (events->GetEvent(&code, &first, &second, 0) == S_OK) {
        if (const wchar_t* t = eventText(code, second); t != nullptr && text == nullptr)
            text = t;
        events->FreeEventParams(code, first, second);
    }
    if (text != nullptr)
        stopRecordingAfter(text);
}

} // namespace korvane

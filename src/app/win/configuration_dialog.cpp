#include "app/win/configuration_dialog.h"

#include "app/win/app_state.h"
#include "app/win/config_store.h"
#include "channels/win/frequency_plan_win.h"
#include "common/win/wide_text.h"
#include "graph/devices.h"
#include "graph/platform_guids.h"
#include "res/resource.h"

#include <string>

namespace korvane {

namespace {

// Selects the first item that begins with the stored name (compared without case).
void selectStored(HWND dialog, int controlId, const std::u16string& name) {
    const std::wstring text = toWide(name);
    SendDlgItemMessageW(dialog, controlId, CB_SELECTSTRING, static_cast<WPARAM>(-1),
                        reinterpret_cast<LPARAM>(text.c_str()));
}

void fillControls(HWND dialog) {
    const AppConfig& config = appConfig();
    const bool exact = config.strictSearch != 0;
    fillCityList(dialog, IDC_CITY);
    selectStored(dialog, IDC_CITY, config.city);
    fillDeviceCombo(kCategoryNetworkTuner, dialog, IDC_TUNER);
    selectStored(dialog, IDC_TUNER, config.tunerName);
    fillDeviceCombo(kCategoryReceiverComponent, dialog, IDC_RECEIVER);
    selectStored(dialog, IDC_RECEIVER, config.receiverName);
    fillCodecCombo(MEDIATYPE_Video, MEDIASUBTYPE_MPEG2_VIDEO, dialog, IDC_VIDEO_DECODER, exact);
    selectStored(dialog, IDC_VIDEO_DECODER, config.videoDecoderName);
    fillCodecCombo(MEDIATYPE_Audio, MEDIASUBTYPE_MPEG2_AUDIO, dialog, IDC_AUDIO_DECODER, exact);
    selectStored(dialog, IDC_AUDIO_DECODER, config.audioDecoderName);
    fillCodecCombo(MEDIATYPE_Audio, MEDIASUBTYPE_DOLBY_AC3, dialog, IDC_AC3_DECODER, exact);
    selectStored(dialog, IDC_AC3_DECODER, config.ac3DecoderName);
    fillCodecCombo(MEDIATYPE_Video, kMediaSubtypeH264, dialog, IDC_H264_DECODER, exact);
    selectStored(dialog, IDC_H264_DECODER, config.h264DecoderName);
    fillCodecCombo(MEDIATYPE_Audio, kMediaSubtypeDolbyDigitalPlus, dialog, IDC_EAC3_DECODER, exact);
    selectStored(dialog, IDC_EAC3_DECODER, config.eac3DecoderName);
}

// The selected item's text into the setting; without a selection (or with a text that does
// not fit a setting) the setting keeps its value.
void storeSelection(HWND dialog, int controlId, std::u16string& setting) {
    const LRESULT index = SendDlgItemMessageW(dialog, controlId, CB_GETCURSEL, 0, 0);
    if (index == CB_ERR)
        return;
    const LRESULT length = SendDlgItemMessageW(dialog, controlId, CB_GETLBTEXTLEN, index, 0);
    if (length == CB_ERR || length >= static_cast<LRESULT>(kNameCapacity))
        return;
    std::wstring text(static_cast<std::size_t>(length) + 1, L'\0');
    const LRESULT copied = SendDlgItemMessageW(dialog, controlId, CB_GETLBTEXT, index,
                                               reinterpret_cast<LPARAM>(text.data()));
    if (copied == CB_ERR)
        return;
    text.resize(static_cast<std::size_t>(copied));
    setting = toU16(text);
}

void storeSelections(HWND dialog) {
    AppConfig& config = appConfig();
    storeSelection(dialog, IDC_TUNER, config.tunerName);
    storeSelection(dialog, IDC_RECEIVER, config.receiverName);
    storeSelection(dialog, IDC_CITY, config.city);
    storeSelection(dialog, IDC_VIDEO_DECODER, config.videoDecoderName);
    storeSelection(dialog, IDC_AUDIO_DECODER, config.audioDecoderName);
    storeSelection(dialog, IDC_AC3_DECODER, config.ac3DecoderName);
    storeSelection(dialog, IDC_H264_DECODER, config.h264DecoderName);
    storeSelection(dialog, IDC_EAC3_DECODER, config.eac3DecoderName);
}

} // namespace

INT_PTR CALLBACK ConfigurationDialog(HWND dialog, UINT message, WPARAM wParam, LPARAM) {
    switch (message) {
    case WM_INITDIALOG:
        fillControls(dialog);
        return TRUE;
    case WM_COMMAND:
        switch (LOWORD(wParam)) {
        case IDOK:
            storeSelections(dialog);
            saveConfig();
            EndDialog(dialog, 0);
            return TRUE;
        case IDCANCEL:
            EndDialog(dialog, 0);
            return TRUE;
        default:
            return FALSE;
        }
    default:
        return FALSE;
    }
}

void showConfigurationDialog(HWND owner) {
    DialogBoxParamW(appInstance(), MAKEINTRESOURCEW(IDD_CONFIGURATION), owner, ConfigurationDialog,
                    0);
}

} // namespace korvane

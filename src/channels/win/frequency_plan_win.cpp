#include "channels/win/frequency_plan_win.h"

#include "app/win/private_profile.h"

namespace korvane {

namespace {

std::wstring wide(std::u16string_view text) {
    return std::wstring(text.begin(), text.end());
}

std::u16string utf16(const std::wstring& text) {
    return std::u16string(text.begin(), text.end());
}

} // namespace

bool MessageBoxQuestion::ask(std::u16string_view text, std::u16string_view caption) {
    return MessageBoxW(owner_, wide(text).c_str(), wide(caption).c_str(),
                       MB_YESNO | MB_ICONQUESTION) == IDYES;
}

std::wstring canauxIniPath() {
    return currentDirectoryPath(L"canaux.ini");
}

void fillCityList(HWND dialog, int controlId) {
    PrivateProfile canaux(canauxIniPath());
    for (const std::u16string& item : cityListItems(canaux))
        SendDlgItemMessageW(dialog, controlId, CB_ADDSTRING, 0,
                            reinterpret_cast<LPARAM>(wide(item).c_str()));
}

FrequencyPlan buildFrequencyPlan(const std::wstring& city, const std::wstring& tunerName,
                                 HWND owner) {
    PrivateProfile canaux(canauxIniPath());
    MessageBoxQuestion question(owner);
    return buildFrequencyPlan(canaux, utf16(city), utf16(tunerName), question);
}

} // namespace korvane

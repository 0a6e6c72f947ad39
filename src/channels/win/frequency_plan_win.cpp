#include "channels/win/frequency_plan_win.h"

#include "common/win/private_profile.h"
#include "common/win/wide_text.h"

namespace korvane {

bool MessageBoxQuestion::ask(std::u16string_view text, std::u16string_view caption) {
    return MessageBoxW(owner_, toWide(text).c_str(), toWide(caption).c_str(),
                       MB_YESNO | MB_ICONQUESTION) == IDYES;
}

std::wstring canauxIniPath() {
    return currentDirectoryPath(L"canaux.ini");
}

void fillCityList(HWND dialog, int controlId) {
    PrivateProfile canaux(canauxIniPath());
    for (const std::u16string& item : cityListItems(canaux))
        SendDlgItemMessageW(dialog, controlId, CB_ADDSTRING, 0,
                            reinterpret_cast<LPARAM>(toWide(item).c_str()));
}

FrequencyPlan buildFrequencyPlan(const std::wstring& city, const std::wstring& tunerName,
                                 HWND owner) {
    PrivateProfile canaux(canauxIniPath());
    MessageBoxQuestion question(owner);
    return buildFrequencyPlan(canaux, toU16(city), toU16(tunerName), question);
}

} // namespace korvane

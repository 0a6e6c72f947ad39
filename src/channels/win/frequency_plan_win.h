#pragma once

#include "channels/frequency_plan.h"

#include <windows.h>

#include <string>

namespace korvane {

// The tuner brand questions as message boxes owned by the main window: Yes and No buttons
// and the question icon.
class MessageBoxQuestion : public OffsetQuestion {
  public:
    explicit MessageBoxQuestion(HWND owner) : owner_(owner) {}
    bool ask(std::u16string_view text, std::u16string_view caption) override;

  private:
    HWND owner_;
};

// canaux.ini in the current directory.
std::wstring canauxIniPath();

// Fills the city combo box (an unsorted drop-down list) of a dialog with the whole-band
// entry followed by the cities of canaux.ini.
void fillCityList(HWND dialog, int controlId);

// The scan frequencies for the configured city and tuner, from canaux.ini in the current
// directory; the questions are owned by owner.
FrequencyPlan buildFrequencyPlan(const std::wstring& city, const std::wstring& tunerName,
                                 HWND owner);

} // namespace korvane

#include "channels/win/frequency_plan_win.h"
#include "common/win/private_profile.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <atomic>
#include <string>
#include <thread>

using namespace korvane;

namespace {

std::wstring shippedCanauxIni() {
    // The build copies the data files next to the program; Unix paths are Z:\ paths in Wine.
    std::string unix = std::string(KORVANE_BINARY_DIR) + "/canaux.ini";
    std::wstring path = L"Z:";
    for (char c : unix)
        path += c == '/' ? L'\\' : static_cast<wchar_t>(c);
    return path;
}

// Works in a folder of its own holding a copy of the shipped canaux.ini.
class CanauxFolder {
  public:
    CanauxFolder() {
        wchar_t base[MAX_PATH];
        GetTempPathW(MAX_PATH, base);
        dir_ = std::wstring(base) + L"korvane-canaux-" + std::to_wstring(GetCurrentProcessId());
        CreateDirectoryW(dir_.c_str(), nullptr);
        copied_ = CopyFileW(shippedCanauxIni().c_str(), (dir_ + L"\\canaux.ini").c_str(), FALSE);
        GetCurrentDirectoryW(MAX_PATH, previous_);
        SetCurrentDirectoryW(dir_.c_str());
    }
    ~CanauxFolder() {
        SetCurrentDirectoryW(previous_);
        DeleteFileW((dir_ + L"\\canaux.ini").c_str());
        RemoveDirectoryW(dir_.c_str());
    }
    bool copied() const { return copied_ != FALSE; }

  private:
    std::wstring dir_;
    wchar_t previous_[MAX_PATH] = {};
    BOOL copied_ = FALSE;
};

// Answers the first message box with the given caption by pressing one of its buttons.
class BoxAnswerer {
  public:
    BoxAnswerer(const wchar_t* caption, int button)
        : thread_([this, caption, button] {
              for (int i = 0; i < 500 && !stop_; ++i) {
                  if (HWND box = FindWindowW(L"#32770", caption)) {
                      seen_ = true;
                      PostMessageW(box, WM_COMMAND, MAKEWPARAM(button, BN_CLICKED), 0);
                      return;
                  }
                  Sleep(20);
              }
          }) {}
    ~BoxAnswerer() {
        stop_ = true;
        thread_.join();
    }
    bool seen() const { return seen_; }

  private:
    std::atomic<bool> stop_{false};
    std::atomic<bool> seen_{false};
    std::thread thread_;
};

} // namespace

TEST(CanauxIni, AccentedSectionNameReadsBackThroughTheProfileFunctions) {
    CanauxFolder folder;
    ASSERT_TRUE(folder.copied());
    PrivateProfile canaux(canauxIniPath());
    std::vector<std::u16string> names = canaux.sectionNames();
    ASSERT_FALSE(names.empty());
    EXPECT_EQ(names[0], u"Général");
    EXPECT_EQ(canaux.readInt(u"Général", u"Offset", 0), 167);
    std::vector<std::u16string> items = cityListItems(canaux);
    ASSERT_GE(items.size(), 2u);
    EXPECT_EQ(items[0], u"Non précisée (scanne tous les canaux)");
    EXPECT_EQ(items[1], u"Paris");
    for (const auto& item : items)
        EXPECT_NE(item, u"Général");
    EXPECT_EQ(buildFrequencyPlan(L"Paris", L"Tuner TNT", nullptr),
              (FrequencyPlan{586167, 506167, 482167, 546167, 562167, 642167}));
}

TEST(CanauxIni, CityComboBoxGetsTheWholeBandEntryThenTheCities) {
    CanauxFolder folder;
    ASSERT_TRUE(folder.copied());
    HWND parent = CreateWindowExW(0, L"STATIC", L"", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr,
                                  GetModuleHandleW(nullptr), nullptr);
    ASSERT_NE(parent, nullptr);
    HWND combo =
        CreateWindowExW(0, L"COMBOBOX", L"", WS_CHILD | CBS_DROPDOWNLIST, 0, 0, 100, 200, parent,
                        reinterpret_cast<HMENU>(1001), GetModuleHandleW(nullptr), nullptr);
    ASSERT_NE(combo, nullptr);
    fillCityList(parent, 1001);
    PrivateProfile canaux(canauxIniPath());
    std::vector<std::u16string> expected = cityListItems(canaux);
    ASSERT_EQ(SendMessageW(combo, CB_GETCOUNT, 0, 0), static_cast<LRESULT>(expected.size()));
    for (std::size_t i = 0; i < expected.size(); ++i) {
        wchar_t text[256] = {};
        SendMessageW(combo, CB_GETLBTEXT, i, reinterpret_cast<LPARAM>(text));
        EXPECT_EQ(std::u16string(reinterpret_cast<const char16_t*>(text)), expected[i]) << i;
    }
    DestroyWindow(parent);
}

TEST(CanauxIni, MissingFileGivesOnlyTheWholeBand) {
    wchar_t base[MAX_PATH];
    GetTempPathW(MAX_PATH, base);
    std::wstring dir =
        std::wstring(base) + L"korvane-nocanaux-" + std::to_wstring(GetCurrentProcessId());
    CreateDirectoryW(dir.c_str(), nullptr);
    wchar_t previous[MAX_PATH];
    GetCurrentDirectoryW(MAX_PATH, previous);
    SetCurrentDirectoryW(dir.c_str());
    PrivateProfile canaux(canauxIniPath());
    EXPECT_EQ(cityListItems(canaux).size(), 1u);
    FrequencyPlan plan = buildFrequencyPlan(L"Paris", L"", nullptr);
    EXPECT_EQ(plan.size(), 49u);
    EXPECT_EQ(plan.front(), 474167);
    SetCurrentDirectoryW(previous);
    RemoveDirectoryW(dir.c_str());
}

TEST(OffsetQuestionBox, YesAndNoAnswersReachThePlan) {
    CanauxFolder folder;
    ASSERT_TRUE(folder.copied());
    {
        BoxAnswerer yes(L"Carte Hauppauge", IDYES);
        FrequencyPlan plan = buildFrequencyPlan(L"Paris", L"Hauppauge WinTV", nullptr);
        EXPECT_TRUE(yes.seen());
        ASSERT_FALSE(plan.empty());
        EXPECT_EQ(plan[0], 586166);
    }
    {
        BoxAnswerer no(L"Carte Hauppauge", IDNO);
        FrequencyPlan plan = buildFrequencyPlan(L"Paris", L"Hauppauge WinTV", nullptr);
        EXPECT_TRUE(no.seen());
        ASSERT_FALSE(plan.empty());
        EXPECT_EQ(plan[0], 586167);
    }
}

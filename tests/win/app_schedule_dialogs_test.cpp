// The scheduling dialogs ("Programmer un enregistrement", "Programmation"), the guide's
// "Enregistrer cette émission" and the notification area, driven as a user would from a
// watcher thread while the dialogs run their modal loops on the test's thread.
#include "app/win/guide_dialog.h"
#include "app/win/schedule_dialogs.h"
#include "app/win/schedule_store.h"
#include "app/win/scheduler.h"
#include "app/win/tray_icon.h"
#include "common/win/time_convert_win.h"
#include "dialog_watcher.h"
#include "picture_test_support.h"
#include "res/resource.h"
#include "si/eit.h"
#include "si/notifier.h"
#include "si/section_assembler.h"

#include <commctrl.h>
#include <gtest/gtest.h>
#include <shellapi.h>

#include <algorithm>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace korvane::testing {
namespace {

constexpr int kHour = 3600;

struct FoundWindow {
    DWORD thread;
    const wchar_t* caption;
    HWND found;
};

BOOL CALLBACK findCaptioned(HWND window, LPARAM data) {
    auto* wanted = reinterpret_cast<FoundWindow*>(data);
    wchar_t name[16] = {}, caption[128] = {};
    GetClassNameW(window, name, 16);
    GetWindowTextW(window, caption, 128);
    if (std::wstring(name) == L"#32770" && IsWindowVisible(window) &&
        (!wanted->caption || std::wstring(caption) == wanted->caption)) {
        wanted->found = window;
        return FALSE;
    }
    return TRUE;
}

// Waits up to five seconds for a visible dialog of the thread with that caption (any, for
// null; a message box has the system's caption "Erreur").
HWND waitForDialog(DWORD thread, const wchar_t* caption) {
    for (int i = 0; i < 100; ++i) {
        FoundWindow wanted{thread, caption, nullptr};
        EnumThreadWindows(thread, findCaptioned, reinterpret_cast<LPARAM>(&wanted));
        if (wanted.found)
            return wanted.found;
        Sleep(50);
    }
    return nullptr;
}

struct OwnedBox {
    HWND owner;
    HWND found;
};

BOOL CALLBACK findOwnedBox(HWND window, LPARAM data) {
    auto* wanted = reinterpret_cast<OwnedBox*>(data);
    wchar_t name[16] = {};
    GetClassNameW(window, name, 16);
    if (std::wstring(name) == L"#32770" && IsWindowVisible(window) &&
        GetWindow(window, GW_OWNER) == wanted->owner) {
        wanted->found = window;
        return FALSE;
    }
    return TRUE;
}

// A visible box of the thread owned by the dialog, if any.
HWND ownedBox(DWORD thread, HWND dialog) {
    OwnedBox wanted{dialog, nullptr};
    EnumThreadWindows(thread, findOwnedBox, reinterpret_cast<LPARAM>(&wanted));
    return wanted.found;
}

std::wstring text(HWND window) {
    wchar_t buffer[512] = {};
    GetWindowTextW(window, buffer, 512);
    return buffer;
}

// Presses OK on an entry dialog and returns what the error box over it said ("" when none
// came), closing the box.
std::wstring pressOkAndReadRefusal(HWND dialog, DWORD thread) {
    pressOk(dialog);
    HWND box = nullptr;
    // Until a box shows over the dialog, or the dialog ends (the machine may be slow).
    for (int i = 0; i < 400 && !box && IsWindow(dialog); ++i) {
        Sleep(50);
        box = ownedBox(thread, dialog);
    }
    if (!box)
        return L"";
    const std::wstring said = text(GetDlgItem(box, 0xFFFF));
    pressOk(box);
    for (int i = 0; i < 40 && IsWindow(box); ++i)
        Sleep(50);
    return said;
}

SYSTEMTIME systemTime(const DateTime& day, int second) {
    SYSTEMTIME t{};
    t.wYear = static_cast<WORD>(day.year);
    t.wMonth = static_cast<WORD>(day.month);
    t.wDay = static_cast<WORD>(day.day);
    t.wHour = static_cast<WORD>(second / 3600);
    t.wMinute = static_cast<WORD>(second / 60 % 60);
    t.wSecond = static_cast<WORD>(second % 60);
    return t;
}

// What a user types in "Programmer un enregistrement".
struct Entry {
    int channel;
    DateTime day;
    int start, end;
    int format; // 0 multiplex, 1 channel TS, 2 channel PS
    int repeat; // 0 once, 1 daily, 2 weekly
    uint8_t weekdays;
};

void type(HWND dialog, const Entry& e) {
    SendDlgItemMessageW(dialog, IDC_SCHEDULE_CHANNEL, CB_SETCURSEL, e.channel, 0);
    SYSTEMTIME date = systemTime(e.day, 0), start = systemTime(e.day, e.start),
               end = systemTime(e.day, e.end);
    SendDlgItemMessageW(dialog, IDC_SCHEDULE_DATE, DTM_SETSYSTEMTIME, GDT_VALID,
                        reinterpret_cast<LPARAM>(&date));
    SendDlgItemMessageW(dialog, IDC_SCHEDULE_START, DTM_SETSYSTEMTIME, GDT_VALID,
                        reinterpret_cast<LPARAM>(&start));
    SendDlgItemMessageW(dialog, IDC_SCHEDULE_END, DTM_SETSYSTEMTIME, GDT_VALID,
                        reinterpret_cast<LPARAM>(&end));
    SendDlgItemMessageW(dialog, IDC_SCHEDULE_FORMAT, CB_SETCURSEL, e.format, 0);
    for (int i = 0; i < 3; ++i)
        SendDlgItemMessageW(dialog, IDC_SCHEDULE_ONCE + i, BM_SETCHECK,
                            i == e.repeat ? BST_CHECKED : BST_UNCHECKED, 0);
    for (int day = 0; day < 7; ++day)
        SendDlgItemMessageW(dialog, IDC_SCHEDULE_MONDAY + day, BM_SETCHECK,
                            (e.weekdays >> day) & 1 ? BST_CHECKED : BST_UNCHECKED, 0);
}

std::vector<std::vector<std::wstring>> listRows(HWND table, int columns) {
    std::vector<std::vector<std::wstring>> rows;
    const int count = static_cast<int>(SendMessageW(table, LVM_GETITEMCOUNT, 0, 0));
    for (int row = 0; row < count; ++row) {
        std::vector<std::wstring> cells;
        for (int column = 0; column < columns; ++column) {
            wchar_t cell[256] = {};
            LVITEMW item{};
            item.iSubItem = column;
            item.pszText = cell;
            item.cchTextMax = 256;
            SendMessageW(table, LVM_GETITEMTEXTW, row, reinterpret_cast<LPARAM>(&item));
            cells.push_back(cell);
        }
        rows.push_back(cells);
    }
    return rows;
}

// The row alone selected, as a click leaves it.
void selectListRow(HWND table, int row) {
    LVITEMW none{};
    none.stateMask = LVIS_SELECTED | LVIS_FOCUSED;
    SendMessageW(table, LVM_SETITEMSTATE, static_cast<WPARAM>(-1), reinterpret_cast<LPARAM>(&none));
    LVITEMW item{};
    item.stateMask = LVIS_SELECTED | LVIS_FOCUSED;
    item.state = LVIS_SELECTED | LVIS_FOCUSED;
    SendMessageW(table, LVM_SETITEMSTATE, row, reinterpret_cast<LPARAM>(&item));
}

void click(HWND dialog, int id) {
    PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED),
                 reinterpret_cast<LPARAM>(GetDlgItem(dialog, id)));
}

DateTime localDayFromNow(int days) {
    SYSTEMTIME now{};
    GetLocalTime(&now);
    return *addDays(DateTime{now.wYear, now.wMonth, now.wDay, 0, 0, 0}, days);
}

std::wstring twoDigits(int value) {
    return std::wstring(1, wchar_t(L'0' + value / 10 % 10)) + wchar_t(L'0' + value % 10);
}

std::wstring dayCell(const DateTime& d) {
    static const wchar_t* const names[] = {L"dim.", L"lun.", L"mar.", L"mer.",
                                           L"jeu.", L"ven.", L"sam."};
    return std::wstring(names[dayOfWeek(d.year, d.month, d.day)]) + L" " + twoDigits(d.day) + L"/" +
           twoDigits(d.month) + L"/" + std::to_wstring(d.year);
}

// "HH:MM", with ":SS" when the seconds are not 0.
std::wstring clockCell(const DateTime& t) {
    std::wstring cell = twoDigits(t.hour) + L":" + twoDigits(t.minute);
    return t.second ? cell + L":" + twoDigits(t.second) : cell;
}

class ScheduleDialogsTest : public PictureWindowTest {
  protected:
    void SetUp() override {
        PictureWindowTest::SetUp();
        INITCOMMONCONTROLSEX controls{sizeof(controls), ICC_LISTVIEW_CLASSES};
        InitCommonControlsEx(&controls);
        loadSchedules();
    }
    void TearDown() override {
        setScheduleEntryClock(nullptr);
        PictureWindowTest::TearDown();
    }
    // Two channels on two multiplexes, the first one watched.
    void twoMultiplexes() {
        ChannelInfo one, two;
        one.name.assign("T\xE9l\xE9 Une");
        one.frequency = 474167;
        one.onid = 0x20FA;
        one.tsid = 1;
        one.sid = 0x101;
        two.name.assign("Info Trois");
        two.frequency = 522167;
        two.onid = 0x20FA;
        two.tsid = 2;
        two.sid = 0x201;
        channelList().append(one);
        channelList().append(two);
        channelList().setCurrentIndex(0);
    }
};

TEST_F(ScheduleDialogsTest, EntryDialogAddsRefusesAndTheListEditsAndDeletes) {
    twoMultiplexes();
    const DWORD thread = GetCurrentThreadId();
    const DateTime tomorrow = localDayFromNow(1);

    // A schedule on the first multiplex, in the way of the third entry below.
    ScheduledRecording inTheWay;
    inTheWay.channel = scheduledChannelOf(*channelList().copyAt(0));
    inTheWay.date = tomorrow;
    inTheWay.startSecond = 21 * kHour;
    inTheWay.endSecond = 22 * kHour;
    inTheWay.format = RecorderMode::ChannelTs;
    ASSERT_TRUE(addSchedule(inTheWay).accepted());
    // The store's own words for the conflict the dialog must show.
    ScheduledRecording clash = inTheWay;
    clash.channel = scheduledChannelOf(*channelList().copyAt(1));
    clash.startSecond = 21 * kHour + 1800;
    clash.endSecond = 22 * kHour + 1800;
    const ScheduleChangeResult refused = addSchedule(clash);
    ASSERT_EQ(refused.outcome, ScheduleChangeOutcome::Conflict);
    const std::wstring conflictText = scheduleConflictText(refused);
    EXPECT_NE(conflictText.find(L"Télé Une"), std::wstring::npos) << conflictText;

    struct Case {
        const char* what;
        Entry entry;
        std::wstring refusal; // "" when stored
    };
    const Case cases[] = {
        {"end equals start",
         {1, tomorrow, 20 * kHour, 20 * kHour, 1, 0, 0},
         L"L'heure de fin doit être différente de l'heure de début."},
        {"weekly without a day",
         {1, tomorrow, 20 * kHour, 21 * kHour, 1, 2, 0},
         L"Choisissez au moins un jour de la semaine."},
        {"other multiplex at an overlapping time",
         {1, tomorrow, 21 * kHour + 1800, 22 * kHour + 1800, 2, 0, 0},
         conflictText},
        {"accepted", {1, tomorrow, 18 * kHour, 19 * kHour + 1800, 2, 2, kMonday | kFriday}, L""},
    };
    std::wstring texts;
    std::vector<std::wstring> formats;
    std::vector<std::wstring> refusals;
    bool openAfterRefusals = false;
    bool seen = false;
    std::wstring controls;
    {
        DialogWatcher watcher([&](HWND dialog) {
            texts = text(dialog);
            for (int i = 0; i < 3; ++i) {
                wchar_t format[64] = {};
                SendDlgItemMessageW(dialog, IDC_SCHEDULE_FORMAT, CB_GETLBTEXT, i,
                                    reinterpret_cast<LPARAM>(format));
                formats.push_back(format);
            }
            for (const Case& c : cases) {
                type(dialog, c.entry);
                refusals.push_back(pressOkAndReadRefusal(dialog, thread));
                if (!c.refusal.empty())
                    openAfterRefusals = IsWindowVisible(dialog) != FALSE;
            }
            // Whatever happened, the dialog ends (a refused last entry would leave it open).
            if (IsWindow(dialog))
                pressCancel(dialog);
        });
        SendMessageW(window_, WM_COMMAND, IDM_SCHEDULE_RECORDING, 0);
        seen = watcher.seen();
        controls = watcher.texts();
    } // The watcher's thread may still be on its last step when the dialog has ended.
    ASSERT_TRUE(seen);
    EXPECT_EQ(texts, L"Programmer un enregistrement");
    for (const wchar_t* label :
         {L"Chaîne :", L"Date :", L"Début :", L"Fin :", L"Format :", L"Répétition", L"Une fois",
          L"Tous les jours", L"Chaque semaine", L"Lun", L"Dim", L"OK", L"Annuler"})
        EXPECT_NE(controls.find(std::wstring(label) + L"\n"), std::wstring::npos) << label;
    EXPECT_EQ(formats, (std::vector<std::wstring>{L"Multiplex", L"Chaine en TS", L"Chaine en PS"}));
    ASSERT_EQ(refusals.size(), std::size(cases));
    for (std::size_t i = 0; i < std::size(cases); ++i)
        EXPECT_EQ(refusals[i], cases[i].refusal) << cases[i].what;
    EXPECT_TRUE(openAfterRefusals);

    ASSERT_EQ(schedules().size(), 2u);
    const ScheduledRecording added = schedules()[1];
    EXPECT_EQ(added.channel, scheduledChannelOf(*channelList().copyAt(1)));
    EXPECT_EQ(added.date, tomorrow);
    EXPECT_EQ(added.startSecond, 18 * kHour);
    EXPECT_EQ(added.endSecond, 19 * kHour + 1800);
    EXPECT_EQ(added.format, RecorderMode::ChannelPs);
    EXPECT_EQ(added.repeat, ScheduleRepeat::Weekly);
    EXPECT_EQ(added.weekdays, kMonday | kFriday);

    // "Programmation": both rows; the second edited to end at 20:00, then the first deleted.
    std::vector<std::wstring> headers;
    std::vector<std::vector<std::wstring>> opened, edited, deleted;
    bool editOpened = false;
    DialogWatcher list([&](HWND dialog) {
        HWND table = GetDlgItem(dialog, IDC_SCHEDULE_TABLE);
        for (int column = 0; column < 7; ++column) {
            wchar_t header[64] = {};
            LVCOLUMNW info{};
            info.mask = LVCF_TEXT;
            info.pszText = header;
            info.cchTextMax = 64;
            SendMessageW(table, LVM_GETCOLUMNW, column, reinterpret_cast<LPARAM>(&info));
            headers.push_back(header);
        }
        opened = listRows(table, 7);
        selectListRow(table, 1);
        click(dialog, IDC_SCHEDULE_EDIT);
        if (HWND edit = waitForDialog(thread, L"Programmer un enregistrement")) {
            editOpened = true;
            SYSTEMTIME end = systemTime(tomorrow, 20 * kHour);
            SendDlgItemMessageW(edit, IDC_SCHEDULE_END, DTM_SETSYSTEMTIME, GDT_VALID,
                                reinterpret_cast<LPARAM>(&end));
            pressOk(edit);
            for (int i = 0; i < 40 && IsWindow(edit); ++i)
                Sleep(50);
            if (IsWindow(edit))
                pressCancel(edit);
        }
        edited = listRows(table, 7);
        selectListRow(table, 0);
        SendMessageW(dialog, WM_COMMAND, MAKEWPARAM(IDC_SCHEDULE_DELETE, BN_CLICKED), 0);
        deleted = listRows(table, 7);
        pressCancel(dialog);
    });
    SendMessageW(window_, WM_COMMAND, IDM_SCHEDULE_LIST, 0);
    ASSERT_TRUE(list.seen());
    EXPECT_EQ(headers, (std::vector<std::wstring>{L"Chaîne", L"Jour", L"Début", L"Fin", L"Format",
                                                  L"Répétition", L"État"}));
    const std::vector<std::wstring> first = {L"Télé Une", dayCell(tomorrow), L"21:00",
                                             L"22:00",    L"Chaine en TS",   L"Une fois",
                                             L"Programmé"};
    std::vector<std::wstring> second = {L"Info Trois",   dayCell(tomorrow),
                                        L"18:00",        L"19:30",
                                        L"Chaine en PS", L"Chaque semaine : lun. ven.",
                                        L"Programmé"};
    EXPECT_EQ(opened, (std::vector<std::vector<std::wstring>>{first, second}));
    EXPECT_TRUE(editOpened);
    second[3] = L"20:00";
    EXPECT_EQ(edited, (std::vector<std::vector<std::wstring>>{first, second}));
    EXPECT_EQ(deleted, (std::vector<std::vector<std::wstring>>{second}));
    ASSERT_EQ(schedules().size(), 1u);
    EXPECT_EQ(schedules()[0].id, added.id);
    EXPECT_EQ(schedules()[0].endSecond, 20 * kHour);
}

// The guide of the first test multiplex, as its EIT present/following sections leave it.
void loadTestMultiplexGuide(ChannelList& list) {
    std::ifstream file(KORVANE_BINARY_DIR "/testbed-data/474167.ts", std::ios::binary);
    const std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(file)),
                                     std::istreambuf_iterator<char>());
    ASSERT_GT(bytes.size(), 188u * 100);
    struct Quiet : WindowNotifier {
        void postGuideUpdated() override {}
        void postStreamsChanged() override {}
    } notifier;
    const SystemTimeConverter clock;
    SectionDemux demux;
    demux.onlyPids({0x12});
    for (std::size_t at = 0; at + 188 <= bytes.size(); at += 188) {
        if (auto packet = parseTsPacket(bytes.data() + at, 188))
            demux.push(*packet, [&](uint16_t, const uint8_t* section, std::size_t size) {
                handleEitSample(list, notifier, clock, section, size);
            });
    }
}

FileTime aDayBefore(FileTime t) {
    return t - FileTime{86400} * 10'000'000;
}

FileTime guideNow = 0;
FileTime testNow() {
    return guideNow;
}

TEST_F(ScheduleDialogsTest, GuideRecordsTheSelectedEventWithTheMarginsOfTheSettings) {
    ChannelInfo une;
    une.name.assign("T\xE9l\xE9 Une");
    une.frequency = 474167;
    une.onid = 0x20FA;
    une.tsid = 1;
    une.sid = 0x101;
    channelList().append(une);
    // A channel whose event has no known end: nothing to record.
    ChannelInfo open = une;
    open.name.assign("Sans fin");
    open.sid = 0x999;
    channelList().append(open);
    channelList().setCurrentIndex(0);
    loadTestMultiplexGuide(channelList());
    const ChannelInfo guide = *channelList().copyAt(0);
    ASSERT_FALSE(guide.following.empty());
    ASSERT_TRUE(guide.following.hasEnd());
    {
        auto access = channelList().lock();
        access.at(1).present = guide.present;
        access.at(1).present.startTime = guide.following.startTime + 1;
        access.at(1).present.endTime = 0;
        access.at(1).present.endText.assign("");
    }
    appConfig().marginBeforeMinutes = 3;
    appConfig().marginAfterMinutes = 7;
    // The multiplex's events lie in the past of today's clock: the guide is consulted the day
    // before.
    guideNow = aDayBefore(guide.present.startTime);
    setScheduleEntryClock(testNow);

    bool enabledOnFollowing = false, enabledWithoutEnd = true;
    std::wstring status, again, label;
    DialogWatcher watcher([&](HWND dialog) {
        HWND table = GetDlgItem(dialog, IDC_GUIDE_LIST);
        HWND button = GetDlgItem(dialog, IDC_GUIDE_RECORD);
        label = text(button);
        selectListRow(table, 2); // "Sans fin"'s event
        enabledWithoutEnd = IsWindowEnabled(button) != FALSE;
        selectListRow(table, 1); // Télé Une's following event
        enabledOnFollowing = IsWindowEnabled(button) != FALSE;
        SendMessageW(dialog, WM_COMMAND, MAKEWPARAM(IDC_GUIDE_RECORD, BN_CLICKED), 0);
        status = text(GetDlgItem(dialog, IDC_GUIDE_STATUS));
        // The context menu's item on the same event: already there.
        SendMessageW(dialog, WM_COMMAND, MAKEWPARAM(IDM_GUIDE_RECORD_EVENT, 0), 0);
        again = text(GetDlgItem(dialog, IDC_GUIDE_STATUS));
        pressOk(dialog);
    });
    showGuideDialog(window_, nullptr);
    ASSERT_TRUE(watcher.seen());
    EXPECT_EQ(label, L"Enregistrer cette émission");
    EXPECT_FALSE(enabledWithoutEnd);
    EXPECT_TRUE(enabledOnFollowing);

    ASSERT_EQ(schedules().size(), 1u);
    const ScheduledRecording& s = schedules()[0];
    const SystemTimeConverter clock;
    const DateTime start = *clock.fileTimeToLocal(guide.following.startTime);
    const DateTime end = *clock.fileTimeToLocal(guide.following.endTime);
    EXPECT_EQ(s.channel, scheduledChannelOf(guide));
    EXPECT_EQ(s.origin, ScheduleOrigin::Guide);
    EXPECT_EQ(s.repeat, ScheduleRepeat::Once);
    EXPECT_EQ(s.format, RecorderMode::ChannelTs);
    EXPECT_EQ(s.date, (DateTime{start.year, start.month, start.day, 0, 0, 0}));
    EXPECT_EQ(s.startSecond, start.hour * kHour + start.minute * 60 + start.second);
    EXPECT_EQ(s.endSecond, end.hour * kHour + end.minute * 60 + end.second);
    EXPECT_EQ(s.marginBefore, 3);
    EXPECT_EQ(s.marginAfter, 7);
    EXPECT_EQ(s.title, guide.following.title);
    // The recording runs from three minutes before the start to seven after the end.
    const auto occurrence = nextOccurrence(s, guideNow, clock);
    ASSERT_TRUE(occurrence);
    EXPECT_EQ(occurrence->start, guide.following.startTime - FileTime{3 * 60} * 10'000'000);
    EXPECT_EQ(occurrence->end, guide.following.endTime + FileTime{7 * 60} * 10'000'000);
    const DateTime from = *clock.fileTimeToLocal(occurrence->start);
    const DateTime to = *clock.fileTimeToLocal(occurrence->end);
    const std::wstring expected =
        L"Télé Une le " + dayCell(from) + L" de " + clockCell(from) + L" à " + clockCell(to);
    EXPECT_EQ(status, L"Programmé : " + expected);
    EXPECT_EQ(again, L"Déjà programmé : " + expected);
}

TEST_F(ScheduleDialogsTest, NotificationAreaHoldsTheMinimisedWindowAndSaysTheNextRecording) {
    twoMultiplexes();
    auto shellHasIcon = [this] {
        NOTIFYICONDATAW data{};
        data.cbSize = sizeof(data);
        data.hWnd = window_;
        data.uID = 1;
        data.uFlags = NIF_TIP;
        const std::wstring tip = trayIconTooltip().substr(0, std::size(data.szTip) - 1);
        std::copy(tip.begin(), tip.end(), data.szTip);
        return Shell_NotifyIconW(NIM_MODIFY, &data) != FALSE;
    };
    // Off: a minimised window stays on the task bar.
    ShowWindow(window_, SW_MINIMIZE);
    EXPECT_FALSE(trayIconShown());
    EXPECT_TRUE(IsWindowVisible(window_));
    ShowWindow(window_, SW_RESTORE);

    SendMessageW(window_, WM_COMMAND, IDM_MINIMIZE_TO_TRAY, 0);
    EXPECT_TRUE(appConfig().minimizeToTray);
    EXPECT_NE(GetMenuState(GetMenu(window_), IDM_MINIMIZE_TO_TRAY, MF_BYCOMMAND) & MF_CHECKED, 0u);
    wchar_t saved[16] = {};
    GetPrivateProfileStringW(L"Config", L"Réduire dans la zone de notification", L"", saved, 16,
                             (folder_ + L"\\config.ini").c_str());
    EXPECT_STREQ(saved, L"Vrai");

    ScheduledRecording next;
    next.channel = scheduledChannelOf(*channelList().copyAt(1));
    next.date = localDayFromNow(1);
    next.startSecond = 20 * kHour;
    next.endSecond = 21 * kHour;
    ASSERT_TRUE(addSchedule(next).accepted());
    // The scheduler, started as at the program's start, works out what comes next.
    startScheduler();

    ShowWindow(window_, SW_MINIMIZE);
    ASSERT_TRUE(trayIconShown());
    EXPECT_FALSE(IsWindowVisible(window_));
    EXPECT_TRUE(shellHasIcon());
    EXPECT_EQ(trayIconTooltip(), L"Korvane TV\n" + scheduleStatusText());
    EXPECT_NE(trayIconTooltip().find(L"Prochain enregistrement : Info Trois"), std::wstring::npos)
        << trayIconTooltip();

    // A click on the icon brings the window back and takes the icon away.
    SendMessageW(window_, kTrayIconMessage, 1, WM_LBUTTONUP);
    EXPECT_FALSE(trayIconShown());
    EXPECT_TRUE(IsWindowVisible(window_));
    EXPECT_FALSE(IsIconic(window_));
    EXPECT_FALSE(shellHasIcon());

    // Minimised again, the icon goes with the window.
    ShowWindow(window_, SW_MINIMIZE);
    EXPECT_TRUE(trayIconShown());
    stopScheduler();
    DestroyWindow(window_);
    EXPECT_FALSE(trayIconShown());
}

} // namespace
} // namespace korvane::testing

#include "app/win/schedule_dialogs.h"

#include "app/planned_recording_texts.h"
#include "app/win/app_state.h"
#include "app/win/list_columns.h"
#include "app/win/schedule_store.h"
#include "common/dvb_text.h"
#include "common/win/time_convert_win.h"
#include "common/win/wide_text.h"
#include "res/resource.h"

#include <commctrl.h>

#include <string>
#include <vector>

namespace korvane {

namespace {

constexpr RecorderMode kFormats[] = {RecorderMode::Multiplex, RecorderMode::ChannelTs,
                                     RecorderMode::ChannelPs};
constexpr int kRepeatButtons[] = {IDC_SCHEDULE_ONCE, IDC_SCHEDULE_DAILY, IDC_SCHEDULE_WEEKLY};
constexpr ScheduleRepeat kRepeats[] = {ScheduleRepeat::Once, ScheduleRepeat::Daily,
                                       ScheduleRepeat::Weekly};
constexpr int kSecondsPerDay = 86400;

FileTime systemNow() {
    FILETIME now{};
    GetSystemTimeAsFileTime(&now);
    return (FileTime{now.dwHighDateTime} << 32) | now.dwLowDateTime;
}

UtcNowSource entryClock = systemNow;

SYSTEMTIME systemTimeOf(const DateTime& date, int secondOfDay) {
    SYSTEMTIME time{};
    time.wYear = static_cast<WORD>(date.year);
    time.wMonth = static_cast<WORD>(date.month);
    time.wDay = static_cast<WORD>(date.day);
    time.wDayOfWeek = static_cast<WORD>(dayOfWeek(date.year, date.month, date.day));
    time.wHour = static_cast<WORD>(secondOfDay / 3600);
    time.wMinute = static_cast<WORD>(secondOfDay / 60 % 60);
    time.wSecond = static_cast<WORD>(secondOfDay % 60);
    return time;
}

std::optional<SYSTEMTIME> pickerTime(HWND dialog, int id) {
    SYSTEMTIME time{};
    if (SendDlgItemMessageW(dialog, id, DTM_GETSYSTEMTIME, 0, reinterpret_cast<LPARAM>(&time)) !=
        GDT_VALID)
        return std::nullopt;
    return time;
}

void setPickerTime(HWND dialog, int id, const SYSTEMTIME& time) {
    SendDlgItemMessageW(dialog, id, DTM_SETSYSTEMTIME, GDT_VALID, reinterpret_cast<LPARAM>(&time));
}

ScheduleEntryRequest& entryRequest(HWND dialog) {
    return *reinterpret_cast<ScheduleEntryRequest*>(GetWindowLongPtrW(dialog, DWLP_USER));
}

void enableWeekdays(HWND dialog) {
    const bool weekly = IsDlgButtonChecked(dialog, IDC_SCHEDULE_WEEKLY) == BST_CHECKED;
    for (int id = IDC_SCHEDULE_MONDAY; id <= IDC_SCHEDULE_SUNDAY; ++id)
        EnableWindow(GetDlgItem(dialog, id), weekly);
}

void fillChannels(HWND dialog, const ScheduledChannel& chosen) {
    HWND combo = GetDlgItem(dialog, IDC_SCHEDULE_CHANNEL);
    const ChannelRecords records = channelList().snapshot();
    for (const ChannelInfo& channel : records) {
        const std::string name(shownDvbText(channel.name.view()));
        SendMessageA(combo, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(name.c_str()));
    }
    std::optional<std::size_t> index = findScheduledChannel(records, chosen);
    if (!index && chosen.name.empty() && !records.empty()) {
        const int32_t current = channelList().currentIndex();
        index = current >= 0 && static_cast<std::size_t>(current) < records.size()
                    ? static_cast<std::size_t>(current)
                    : 0;
    }
    if (index)
        SendMessageW(combo, CB_SETCURSEL, *index, 0);
}

void initEntryDialog(HWND dialog, const ScheduledRecording& schedule) {
    fillChannels(dialog, schedule.channel);
    setPickerTime(dialog, IDC_SCHEDULE_DATE, systemTimeOf(schedule.date, 0));
    setPickerTime(dialog, IDC_SCHEDULE_START, systemTimeOf(schedule.date, schedule.startSecond));
    setPickerTime(dialog, IDC_SCHEDULE_END, systemTimeOf(schedule.date, schedule.endSecond));
    HWND formats = GetDlgItem(dialog, IDC_SCHEDULE_FORMAT);
    for (std::size_t i = 0; i < std::size(kFormats); ++i) {
        SendMessageW(formats, CB_ADDSTRING, 0,
                     reinterpret_cast<LPARAM>(widenUtf8(recordingFormatText(kFormats[i])).c_str()));
        if (kFormats[i] == schedule.format)
            SendMessageW(formats, CB_SETCURSEL, i, 0);
    }
    for (std::size_t i = 0; i < std::size(kRepeats); ++i)
        CheckDlgButton(dialog, kRepeatButtons[i],
                       kRepeats[i] == schedule.repeat ? BST_CHECKED : BST_UNCHECKED);
    for (int day = 0; day < 7; ++day)
        CheckDlgButton(dialog, IDC_SCHEDULE_MONDAY + day,
                       (schedule.weekdays >> day) & 1 ? BST_CHECKED : BST_UNCHECKED);
    enableWeekdays(dialog);
}

int secondOfDay(const SYSTEMTIME& time) {
    return time.wHour * 3600 + time.wMinute * 60 + time.wSecond;
}

// The schedule as the controls say, over the one the dialog opened with (its id, origin,
// title and margins stay). An unreadable control leaves a value the checks refuse.
ScheduledRecording readEntry(HWND dialog, const ScheduledRecording& opened) {
    ScheduledRecording schedule = opened;
    const LRESULT channel = SendDlgItemMessageW(dialog, IDC_SCHEDULE_CHANNEL, CB_GETCURSEL, 0, 0);
    const std::optional<ChannelInfo> record =
        channel >= 0 ? channelList().copyAt(static_cast<std::size_t>(channel)) : std::nullopt;
    if (record) {
        const ScheduledChannel chosen = scheduledChannelOf(*record);
        // Another channel than the guide's: the programme's title no longer applies.
        if (!(chosen == opened.channel) && opened.origin == ScheduleOrigin::Guide) {
            schedule.origin = ScheduleOrigin::Typed;
            schedule.title.assign("");
            schedule.marginBefore = schedule.marginAfter = 0;
        }
        schedule.channel = chosen;
    } else {
        schedule.channel = ScheduledChannel{};
    }
    const auto date = pickerTime(dialog, IDC_SCHEDULE_DATE);
    schedule.date = date ? DateTime{date->wYear, date->wMonth, date->wDay, 0, 0, 0} : DateTime{};
    const auto start = pickerTime(dialog, IDC_SCHEDULE_START);
    const auto end = pickerTime(dialog, IDC_SCHEDULE_END);
    schedule.startSecond = start ? secondOfDay(*start) : -1;
    schedule.endSecond = end ? secondOfDay(*end) : -1;
    const LRESULT format = SendDlgItemMessageW(dialog, IDC_SCHEDULE_FORMAT, CB_GETCURSEL, 0, 0);
    if (format >= 0 && static_cast<std::size_t>(format) < std::size(kFormats))
        schedule.format = kFormats[format];
    for (std::size_t i = 0; i < std::size(kRepeats); ++i)
        if (IsDlgButtonChecked(dialog, kRepeatButtons[i]) == BST_CHECKED)
            schedule.repeat = kRepeats[i];
    schedule.weekdays = 0;
    if (schedule.repeat == ScheduleRepeat::Weekly)
        for (int day = 0; day < 7; ++day)
            if (IsDlgButtonChecked(dialog, IDC_SCHEDULE_MONDAY + day) == BST_CHECKED)
                schedule.weekdays = static_cast<uint8_t>(schedule.weekdays | (1 << day));
    return schedule;
}

// Checks the entry and stores it; false (the dialog stays) when refused, with the reason told.
bool storeEntry(HWND dialog, ScheduleEntryRequest& request) {
    const ScheduledRecording schedule = readEntry(dialog, request.schedule);
    const std::string problem =
        scheduleEntryProblem(schedule, scheduleEntryNow(), SystemTimeConverter());
    if (!problem.empty()) {
        showDialogError(dialog, widenUtf8(problem).c_str());
        return false;
    }
    const ScheduleChangeResult result =
        request.replacing ? replaceSchedule(*request.replacing, schedule) : addSchedule(schedule);
    switch (result.outcome) {
    case ScheduleChangeOutcome::Applied:
    case ScheduleChangeOutcome::WriteFailed:
        request.schedule = schedule;
        return true;
    case ScheduleChangeOutcome::Conflict:
        showDialogError(dialog, scheduleConflictText(result).c_str());
        return false;
    case ScheduleChangeOutcome::NotFound:
        // Removed meanwhile (its single occurrence ended, or another window removed it).
        showDialogError(dialog, L"Cet enregistrement n'est plus dans la programmation.");
        return true;
    case ScheduleChangeOutcome::Invalid:
        break;
    }
    showDialogError(dialog, L"Cet enregistrement ne peut pas être programmé.");
    return false;
}

INT_PTR runEntryDialog(HWND owner, ScheduleEntryRequest& request) {
    INITCOMMONCONTROLSEX controls{sizeof(controls), ICC_DATE_CLASSES | ICC_LISTVIEW_CLASSES};
    InitCommonControlsEx(&controls);
    ShowCursor(TRUE);
    const INT_PTR result =
        DialogBoxParamW(appInstance(), MAKEINTRESOURCEW(IDD_SCHEDULE_ENTRY), owner,
                        ScheduleEntryDialog, reinterpret_cast<LPARAM>(&request));
    ShowCursor(FALSE);
    return result;
}

// A new entry: the next whole minute, for an hour.
ScheduledRecording newEntry() {
    ScheduledRecording schedule;
    schedule.format = RecorderMode::ChannelTs;
    SYSTEMTIME now{};
    GetLocalTime(&now);
    const DateTime today{now.wYear, now.wMonth, now.wDay, 0, 0, 0};
    const int start = (now.wHour * 60 + now.wMinute + 1) * 60;
    const auto day = start >= kSecondsPerDay ? addDays(today, 1) : std::optional<DateTime>(today);
    schedule.date = day ? *day : today;
    schedule.startSecond = start % kSecondsPerDay;
    schedule.endSecond = (schedule.startSecond + 3600) % kSecondsPerDay;
    return schedule;
}

constexpr ListColumn kListColumns[] = {
    {L"Chaîne", 110}, {L"Jour", 100},       {L"Début", 55}, {L"Fin", 55},
    {L"Format", 90},  {L"Répétition", 150}, {L"État", 90},
};

void setCell(HWND table, int row, int column, const std::wstring& text) {
    LVITEMW item{};
    item.iSubItem = column;
    item.pszText = const_cast<wchar_t*>(text.c_str());
    SendMessageW(table, LVM_SETITEMTEXTW, row, reinterpret_cast<LPARAM>(&item));
}

std::optional<uint32_t> selectedId(HWND dialog) {
    HWND table = GetDlgItem(dialog, IDC_SCHEDULE_TABLE);
    const int row = static_cast<int>(
        SendMessageW(table, LVM_GETNEXTITEM, static_cast<WPARAM>(-1), LVNI_SELECTED));
    if (row < 0)
        return std::nullopt;
    LVITEMW item{};
    item.mask = LVIF_PARAM;
    item.iItem = row;
    if (!SendMessageW(table, LVM_GETITEMW, 0, reinterpret_cast<LPARAM>(&item)))
        return std::nullopt;
    return static_cast<uint32_t>(item.lParam);
}

void enableListButtons(HWND dialog) {
    const bool chosen = selectedId(dialog).has_value();
    EnableWindow(GetDlgItem(dialog, IDC_SCHEDULE_EDIT), chosen);
    EnableWindow(GetDlgItem(dialog, IDC_SCHEDULE_DELETE), chosen);
}

// The rows again from the store, keeping the selected schedule selected.
void fillScheduleList(HWND dialog) {
    const std::optional<uint32_t> kept = selectedId(dialog);
    HWND table = GetDlgItem(dialog, IDC_SCHEDULE_TABLE);
    SendMessageW(table, LVM_DELETEALLITEMS, 0, 0);
    int row = 0;
    for (const ScheduledRecording& schedule : schedules()) {
        const std::wstring name = toWide(widenAnsi(shownDvbText(schedule.channel.name.view())));
        LVITEMW item{};
        item.mask = LVIF_TEXT | LVIF_PARAM;
        item.iItem = row;
        item.pszText = const_cast<wchar_t*>(name.c_str());
        item.lParam = static_cast<LPARAM>(schedule.id);
        const int at = static_cast<int>(
            SendMessageW(table, LVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&item)));
        if (at < 0)
            continue;
        const PlannedRowTexts texts = plannedRowTexts(schedule);
        const std::string* cells[] = {&texts.day,    &texts.start,  &texts.end,
                                      &texts.format, &texts.repeat, &texts.state};
        for (int column = 0; column < 6; ++column)
            setCell(table, at, column + 1, widenUtf8(*cells[column]));
        if (kept && *kept == schedule.id) {
            LVITEMW state{};
            state.stateMask = LVIS_SELECTED | LVIS_FOCUSED;
            state.state = LVIS_SELECTED | LVIS_FOCUSED;
            SendMessageW(table, LVM_SETITEMSTATE, at, reinterpret_cast<LPARAM>(&state));
        }
        ++row;
    }
    enableListButtons(dialog);
}

void editSelected(HWND dialog) {
    const std::optional<uint32_t> id = selectedId(dialog);
    if (!id)
        return;
    for (const ScheduledRecording& schedule : schedules()) {
        if (schedule.id == *id) {
            // A copy: the store changes under the dialog.
            const ScheduledRecording opened = schedule;
            editScheduleDialog(dialog, opened);
            break;
        }
    }
    fillScheduleList(dialog);
}

void deleteSelected(HWND dialog) {
    if (const std::optional<uint32_t> id = selectedId(dialog))
        removeSchedule(*id);
    fillScheduleList(dialog);
}

void initScheduleList(HWND dialog) {
    HWND table = GetDlgItem(dialog, IDC_SCHEDULE_TABLE);
    SendMessageW(table, LVM_SETEXTENDEDLISTVIEWSTYLE, 0, LVS_EX_GRIDLINES | LVS_EX_FULLROWSELECT);
    insertListColumns(table, kListColumns);
    addScheduleWatcher(dialog);
    fillScheduleList(dialog);
}

void closeScheduleList(HWND dialog) {
    removeScheduleWatcher(dialog);
    EndDialog(dialog, 0);
}

} // namespace

void setScheduleEntryClock(UtcNowSource now) {
    entryClock = now ? now : systemNow;
}

FileTime scheduleEntryNow() {
    return entryClock();
}

void showDialogError(HWND dialog, const wchar_t* text) {
    MessageBoxW(dialog, text, nullptr, MB_OK | MB_ICONERROR);
}

INT_PTR CALLBACK ScheduleEntryDialog(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    // Controls may notify while the dialog is made, before it has its request.
    if (message != WM_INITDIALOG && !GetWindowLongPtrW(dialog, DWLP_USER))
        return FALSE;
    switch (message) {
    case WM_INITDIALOG:
        SetWindowLongPtrW(dialog, DWLP_USER, lParam);
        initEntryDialog(dialog, entryRequest(dialog).schedule);
        return TRUE;
    case WM_COMMAND:
        switch (LOWORD(wParam)) {
        case IDOK:
            if (storeEntry(dialog, entryRequest(dialog)))
                EndDialog(dialog, IDOK);
            return TRUE;
        case IDCANCEL:
            EndDialog(dialog, IDCANCEL);
            return TRUE;
        case IDC_SCHEDULE_ONCE:
        case IDC_SCHEDULE_DAILY:
        case IDC_SCHEDULE_WEEKLY:
            enableWeekdays(dialog);
            return TRUE;
        default:
            return FALSE;
        }
    default:
        return FALSE;
    }
}

INT_PTR showScheduleEntryDialog(HWND owner) {
    ScheduleEntryRequest request{newEntry(), std::nullopt};
    return runEntryDialog(owner, request);
}

INT_PTR editScheduleDialog(HWND owner, const ScheduledRecording& schedule) {
    ScheduleEntryRequest request{schedule, schedule.id};
    return runEntryDialog(owner, request);
}

INT_PTR CALLBACK ScheduleListDialog(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_INITDIALOG:
        initScheduleList(dialog);
        return TRUE;
    case kSchedulesChangedMessage:
        fillScheduleList(dialog);
        return TRUE;
    case WM_COMMAND:
        switch (LOWORD(wParam)) {
        case IDOK:
        case IDCANCEL:
            closeScheduleList(dialog);
            return TRUE;
        case IDC_SCHEDULE_EDIT:
            editSelected(dialog);
            return TRUE;
        case IDC_SCHEDULE_DELETE:
            deleteSelected(dialog);
            return TRUE;
        default:
            return FALSE;
        }
    case WM_NOTIFY: {
        const auto* header = reinterpret_cast<const NMHDR*>(lParam);
        if (header->idFrom != IDC_SCHEDULE_TABLE)
            return FALSE;
        if (header->code == LVN_ITEMCHANGED)
            enableListButtons(dialog);
        else if (header->code == NM_DBLCLK &&
                 reinterpret_cast<const NMITEMACTIVATE*>(lParam)->iItem >= 0)
            editSelected(dialog);
        else
            return FALSE;
        return TRUE;
    }
    default:
        return FALSE;
    }
}

void showScheduleListDialog(HWND owner) {
    INITCOMMONCONTROLSEX controls{sizeof(controls), ICC_DATE_CLASSES | ICC_LISTVIEW_CLASSES};
    InitCommonControlsEx(&controls);
    ShowCursor(TRUE);
    DialogBoxParamW(appInstance(), MAKEINTRESOURCEW(IDD_SCHEDULE_LIST), owner, ScheduleListDialog,
                    0);
    ShowCursor(FALSE);
}

} // namespace korvane

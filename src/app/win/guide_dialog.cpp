#include "app/win/guide_dialog.h"

#include "app/planned_recording_texts.h"
#include "app/win/app_state.h"
#include "app/win/list_columns.h"
#include "app/win/schedule_dialogs.h"
#include "app/win/schedule_store.h"
#include "common/dvb_text.h"
#include "common/win/time_convert_win.h"
#include "common/win/wide_text.h"
#include "res/resource.h"
#include "si/guide_table.h"

#include <commctrl.h>

#include <string>
#include <vector>

namespace korvane {

namespace {

constexpr ListColumn kColumns[] = {
    {L"Chaîne", 90},       {L"Début", 60}, {L"Fin", 60}, {L"Nom du programme", 220},
    {L"Description", 700},
};
constexpr DWORD kExtendedStyles = LVS_EX_GRIDLINES | LVS_EX_HEADERDRAGDROP | LVS_EX_FULLROWSELECT;
constexpr int kNameBytes = 256;

// The cell texts are the broadcast's 8-bit texts, set with the 8-bit messages.
void setCell(HWND table, int row, int column, const std::string& text) {
    LVITEMA item{};
    item.iSubItem = column;
    item.pszText = const_cast<char*>(text.c_str());
    SendMessageA(table, LVM_SETITEMTEXTA, row, reinterpret_cast<LPARAM>(&item));
}

void insertRow(HWND table, int row, const GuideRow& cells) {
    LVITEMA item{};
    item.mask = LVIF_TEXT;
    item.iItem = row;
    item.pszText = const_cast<char*>(cells.channelName.c_str());
    const int at =
        static_cast<int>(SendMessageA(table, LVM_INSERTITEMA, 0, reinterpret_cast<LPARAM>(&item)));
    if (at < 0)
        return;
    setCell(table, at, 1, cells.startText);
    setCell(table, at, 2, cells.endText);
    setCell(table, at, 3, cells.title);
    setCell(table, at, 4, cells.description);
}

void selectRow(HWND table, int row) {
    LVITEMW item{};
    item.stateMask = LVIS_SELECTED;
    item.state = LVIS_SELECTED;
    SendMessageW(table, LVM_SETITEMSTATE, row, reinterpret_cast<LPARAM>(&item));
    SendMessageW(table, LVM_ENSUREVISIBLE, row, FALSE);
}

// What the open dialog shows: the channel switch of a double-click, and the channels as they
// were when the rows were made, with each row's origin, for the recording command.
struct GuideDialogState {
    ChannelSelector select = nullptr;
    ChannelRecords channels;
    std::vector<GuideRowOrigin> origins;
};

GuideDialogState& dialogState(HWND dialog) {
    return *reinterpret_cast<GuideDialogState*>(GetWindowLongPtrW(dialog, DWLP_USER));
}

// The channel of a double-clicked row: the first one whose name equals the row's first cell.
void switchToRowChannel(HWND dialog, const NMITEMACTIVATE& activation) {
    const ChannelSelector select = dialogState(dialog).select;
    if (activation.iItem < 0 || !select)
        return;
    char name[kNameBytes] = {};
    LVITEMA item{};
    item.iSubItem = 0;
    item.pszText = name;
    item.cchTextMax = kNameBytes;
    SendMessageA(activation.hdr.hwndFrom, LVM_GETITEMTEXTA, activation.iItem,
                 reinterpret_cast<LPARAM>(&item));
    const std::optional<std::size_t> index =
        findChannelByName(channelList().snapshot(), std::string_view(name));
    if (index)
        select(*index);
}

void fillGuideList(HWND table, GuideDialogState& state) {
    GuideTable guide;
    {
        // Rows and selection from one consistent view; the list view is filled unlocked.
        auto access = channelList().lock();
        guide = guideTable(access.records(), access.currentIndex());
        state.channels = access.records();
    }
    state.origins = guide.origins;
    for (std::size_t row = 0; row < guide.rows.size(); ++row)
        insertRow(table, static_cast<int>(row), guide.rows[row]);
    if (guide.selected)
        selectRow(table, static_cast<int>(*guide.selected));
}

// The event of a row, when it has a known end (an event without one cannot be recorded).
const EpgEvent* recordableEvent(const GuideDialogState& state, int row) {
    if (row < 0 || static_cast<std::size_t>(row) >= state.origins.size())
        return nullptr;
    const GuideRowOrigin& origin = state.origins[static_cast<std::size_t>(row)];
    if (origin.channelIndex >= state.channels.size())
        return nullptr;
    const ChannelInfo& channel = state.channels[origin.channelIndex];
    const EpgEvent& event = origin.following ? channel.following : channel.present;
    return event.empty() || !event.hasEnd() ? nullptr : &event;
}

int selectedRow(HWND dialog) {
    return static_cast<int>(SendDlgItemMessageW(dialog, IDC_GUIDE_LIST, LVM_GETNEXTITEM,
                                                static_cast<WPARAM>(-1), LVNI_SELECTED));
}

void enableRecordButton(HWND dialog) {
    EnableWindow(GetDlgItem(dialog, IDC_GUIDE_RECORD),
                 recordableEvent(dialogState(dialog), selectedRow(dialog)) != nullptr);
}

bool alreadyScheduled(const ScheduledRecording& schedule) {
    for (const ScheduledRecording& held : schedules())
        if (held.channel == schedule.channel && held.date == schedule.date &&
            held.startSecond == schedule.startSecond && held.endSecond == schedule.endSecond &&
            held.repeat == ScheduleRepeat::Once)
            return true;
    return false;
}

// "Enregistrer cette émission": the selected row's event, with the margins of the settings,
// as a channel recording; said in the dialog's status line, or refused in a box.
void recordSelectedEvent(HWND dialog) {
    const GuideDialogState& state = dialogState(dialog);
    const int row = selectedRow(dialog);
    const EpgEvent* event = recordableEvent(state, row);
    if (!event)
        return;
    const ChannelInfo& channel =
        state.channels[state.origins[static_cast<std::size_t>(row)].channelIndex];
    const SystemTimeConverter clock;
    const AppConfig& config = appConfig();
    const std::optional<ScheduledRecording> schedule =
        scheduleFromGuideEvent(channel, *event, RecorderMode::ChannelTs, config.marginBeforeMinutes,
                               config.marginAfterMinutes, clock);
    if (!schedule) {
        showDialogError(dialog, L"Cette émission ne peut pas être programmée.");
        return;
    }
    const FileTime now = scheduleEntryNow();
    // A programme already over (the guide keeps the last event it saw) is not recorded.
    const std::string problem = scheduleEntryProblem(*schedule, now, clock);
    if (!problem.empty()) {
        showDialogError(dialog, widenUtf8(problem).c_str());
        return;
    }
    const std::wstring when = toWide(widenAnsi(shownDvbText(channel.name.view()))) + L" " +
                              widenUtf8(nextOccurrenceText(*schedule, now, clock));
    if (alreadyScheduled(*schedule)) {
        SetDlgItemTextW(dialog, IDC_GUIDE_STATUS, (L"Déjà programmé : " + when).c_str());
        return;
    }
    const ScheduleChangeResult result = addSchedule(*schedule);
    if (result.accepted())
        SetDlgItemTextW(dialog, IDC_GUIDE_STATUS, (L"Programmé : " + when).c_str());
    else if (result.outcome == ScheduleChangeOutcome::Conflict)
        showDialogError(dialog, scheduleConflictText(result).c_str());
    else
        showDialogError(dialog, L"Cette émission ne peut pas être programmée.");
}

// A right click on a row with a recordable event offers to record it.
void showEventMenu(HWND dialog, const NMITEMACTIVATE& activation) {
    if (!recordableEvent(dialogState(dialog), activation.iItem))
        return;
    HMENU menu = CreatePopupMenu();
    if (!menu)
        return;
    AppendMenuW(menu, MF_STRING, IDM_GUIDE_RECORD_EVENT, L"Enregistrer cette émission");
    POINT at = activation.ptAction;
    ClientToScreen(activation.hdr.hwndFrom, &at);
    TrackPopupMenuEx(menu, TPM_LEFTALIGN | TPM_RIGHTBUTTON, at.x, at.y, dialog, nullptr);
    DestroyMenu(menu);
}

} // namespace

INT_PTR CALLBACK ProgrammeGuideDialog(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    // Controls may notify while the dialog is made, before it has its state.
    if (message != WM_INITDIALOG && !GetWindowLongPtrW(dialog, DWLP_USER))
        return FALSE;
    switch (message) {
    case WM_INITDIALOG: {
        SetWindowLongPtrW(dialog, DWLP_USER, lParam);
        HWND table = GetDlgItem(dialog, IDC_GUIDE_LIST);
        SendMessageW(table, LVM_SETEXTENDEDLISTVIEWSTYLE, 0, kExtendedStyles);
        insertListColumns(table, kColumns);
        fillGuideList(table, dialogState(dialog));
        enableRecordButton(dialog);
        return TRUE;
    }
    case WM_COMMAND:
        switch (LOWORD(wParam)) {
        case IDOK:
        case IDCANCEL:
            EndDialog(dialog, 0);
            return TRUE;
        case IDC_GUIDE_REFRESH: {
            HWND table = GetDlgItem(dialog, IDC_GUIDE_LIST);
            SendMessageW(table, LVM_DELETEALLITEMS, 0, 0);
            fillGuideList(table, dialogState(dialog));
            enableRecordButton(dialog);
            return TRUE;
        }
        case IDC_GUIDE_RECORD:
        case IDM_GUIDE_RECORD_EVENT:
            recordSelectedEvent(dialog);
            return TRUE;
        default:
            return FALSE;
        }
    case WM_NOTIFY: {
        const auto* header = reinterpret_cast<const NMHDR*>(lParam);
        if (header->idFrom != IDC_GUIDE_LIST)
            return FALSE;
        if (header->code == LVN_ITEMCHANGED) {
            enableRecordButton(dialog);
            return TRUE;
        }
        if (header->code == NM_RCLICK) {
            showEventMenu(dialog, *reinterpret_cast<const NMITEMACTIVATE*>(lParam));
            return TRUE;
        }
        if (header->code != NM_DBLCLK)
            return FALSE;
        const auto& activation = *reinterpret_cast<const NMITEMACTIVATE*>(lParam);
        if (activation.iItem < 0)
            return FALSE;
        switchToRowChannel(dialog, activation);
        return TRUE;
    }
    default:
        return FALSE;
    }
}

void showGuideDialog(HWND owner, ChannelSelector select) {
    GuideDialogState state;
    state.select = select;
    ShowCursor(TRUE);
    DialogBoxParamW(appInstance(), MAKEINTRESOURCEW(IDD_GUIDE), owner, ProgrammeGuideDialog,
                    reinterpret_cast<LPARAM>(&state));
    ShowCursor(FALSE);
}

} // namespace korvane

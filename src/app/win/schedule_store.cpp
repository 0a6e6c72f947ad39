#include "app/win/schedule_store.h"

#include "app/schedule_file.h"
#include "app/win/app_state.h"
#include "app/win/config_store.h"
#include "app/win/power_platform.h"
#include "app/win/scheduler.h"
#include "channels/win/channel_file_win.h"
#include "common/dvb_text.h"
#include "common/repeated_failure.h"
#include "common/win/file_replace.h"
#include "common/win/show_error.h"
#include "common/win/time_convert_win.h"
#include "common/win/wide_text.h"

#include <algorithm>
#include <cstdio>

namespace korvane {

namespace {

struct ScheduleStore {
    ScheduleFile file;
    // A damaged file that could not be moved aside is never written over.
    bool writable = true;
    RepeatedFailure writeFailures;
    std::vector<HWND> watchers;
};

ScheduleStore& store() {
    static ScheduleStore schedules;
    return schedules;
}

void tellWatchers() {
    if (HWND main = appState().mainWindow)
        PostMessageW(main, kSchedulesChangedMessage, 0, 0);
    for (HWND watcher : store().watchers)
        PostMessageW(watcher, kSchedulesChangedMessage, 0, 0);
}

// Writes the file; a failure is told once for a run of failures.
bool saveSchedules() {
    ScheduleStore& s = store();
    const bool saved =
        s.writable && replaceFileContents(scheduleFilePath(), formatScheduleFile(s.file));
    if (s.writeFailures.mustReport(saved) && s.writable)
        showError(L"Impossible d'écrire le fichier programmation.xml : la programmation n'a pas "
                  L"été enregistrée.");
    return saved;
}

// Saved and told: how a change that was applied came out.
ScheduleChangeResult finishChange(uint32_t id) {
    ScheduleChangeResult result;
    result.id = id;
    result.outcome =
        saveSchedules() ? ScheduleChangeOutcome::Applied : ScheduleChangeOutcome::WriteFailed;
    tellWatchers();
    rearmScheduler();
    return result;
}

ScheduleChangeResult refused(ScheduleChangeOutcome outcome) {
    ScheduleChangeResult result;
    result.outcome = outcome;
    return result;
}

ScheduledRecordings::iterator findById(uint32_t id) {
    ScheduledRecordings& list = store().file.schedules;
    return std::find_if(list.begin(), list.end(),
                        [id](const ScheduledRecording& s) { return s.id == id; });
}

// Checked and compared with the others (the one with the candidate's id aside).
std::optional<ScheduleChangeResult> refusal(const ScheduledRecording& candidate) {
    if (checkSchedule(candidate) != ScheduleProblem::None)
        return refused(ScheduleChangeOutcome::Invalid);
    const SystemTimeConverter clock;
    const ScheduledRecordings& list = store().file.schedules;
    if (auto conflict = findScheduleConflict(candidate, list, utcNow(), clock)) {
        ScheduleChangeResult result = refused(ScheduleChangeOutcome::Conflict);
        result.conflict = list[conflict->index];
        result.occurrences = *conflict;
        return result;
    }
    return std::nullopt;
}

// "programmation.xml.illisible", then " (2)", " (3)"...: an earlier damaged copy is kept too.
bool moveAside(const std::wstring& path) {
    const std::wstring aside = path + widenUtf8(kScheduleFileUnreadableSuffix);
    for (int number = 1; number < 100; ++number) {
        const std::wstring name =
            number == 1 ? aside : aside + L" (" + std::to_wstring(number) + L")";
        if (MoveFileExW(path.c_str(), name.c_str(), MOVEFILE_WRITE_THROUGH))
            return true;
        const DWORD error = GetLastError();
        if (error != ERROR_ALREADY_EXISTS && error != ERROR_FILE_EXISTS)
            return false;
    }
    return false;
}

void keepDamagedFileAndTell(const std::wstring& path) {
    if (moveAside(path)) {
        showError(L"Le fichier programmation.xml est illisible : il est gardé sous le nom "
                  L"programmation.xml.illisible et la programmation repart vide.");
        return;
    }
    store().writable = false;
    showError(L"Le fichier programmation.xml est illisible et n'a pas pu être mis de côté : la "
              L"programmation repart vide et ne sera pas enregistrée, pour ne pas le remplacer.");
}

std::wstring twoDigits(int value) {
    wchar_t text[8];
    std::swprintf(text, 8, L"%02d", value);
    return text;
}

} // namespace

std::wstring localDayText(const DateTime& day) {
    return twoDigits(day.day) + L"/" + twoDigits(day.month) + L"/" + std::to_wstring(day.year);
}

std::wstring localClockText(FileTime utc) {
    const std::optional<DateTime> local = SystemTimeConverter().fileTimeToLocal(utc);
    return local ? twoDigits(local->hour) + L":" + twoDigits(local->minute) : L"--:--";
}

std::wstring scheduleFilePath() {
    std::wstring path = configPath();
    const std::size_t slash = path.find_last_of(L"\\/");
    path.erase(slash == std::wstring::npos ? 0 : slash + 1);
    return path + widenUtf8(kScheduleFileName);
}

void loadSchedules() {
    store().file = ScheduleFile{};
    store().writable = true;
    const std::wstring path = scheduleFilePath();
    std::string bytes;
    switch (readWholeFile(path, kMaxScheduleFileBytes, bytes)) {
    case FileReadResult::Missing:
        return;
    case FileReadResult::Read: {
        ScheduleFile file;
        if (parseScheduleFile(bytes, file, wideToAnsiCodePage) == ScheduleFileError::None) {
            store().file = std::move(file);
            return;
        }
        break;
    }
    case FileReadResult::TooLarge:
    case FileReadResult::Failed:
        break;
    }
    keepDamagedFileAndTell(path);
}

void resetSchedules() {
    ScheduleStore& s = store();
    s.file = ScheduleFile{};
    s.writable = true;
    s.watchers.clear();
}

const ScheduledRecordings& schedules() {
    return store().file.schedules;
}

FileTime lastScheduleCheck() {
    return store().file.lastCheck;
}

ScheduleChangeResult addSchedule(const ScheduledRecording& schedule) {
    ScheduleStore& s = store();
    if (s.file.schedules.size() >= kMaxSchedules)
        return refused(ScheduleChangeOutcome::Invalid);
    ScheduledRecording added = schedule;
    added.id = nextScheduleId(s.file.schedules);
    if (added.id == 0)
        return refused(ScheduleChangeOutcome::Invalid);
    added.state = ScheduleState::Pending;
    added.lastHandled = 0;
    if (auto refusedChange = refusal(added))
        return *refusedChange;
    s.file.schedules.push_back(added);
    return finishChange(added.id);
}

ScheduleChangeResult replaceSchedule(uint32_t id, const ScheduledRecording& schedule) {
    const auto place = findById(id);
    if (place == store().file.schedules.end())
        return refused(ScheduleChangeOutcome::NotFound);
    ScheduledRecording replaced = schedule;
    replaced.id = id;
    replaced.state = ScheduleState::Pending;
    // Edited: each of its occurrences from now on is due again.
    replaced.lastHandled = 0;
    if (auto refusedChange = refusal(replaced))
        return *refusedChange;
    stopScheduledOccurrence(id);
    *findById(id) = replaced;
    return finishChange(id);
}

ScheduleChangeResult removeSchedule(uint32_t id) {
    if (findById(id) == store().file.schedules.end())
        return refused(ScheduleChangeOutcome::NotFound);
    stopScheduledOccurrence(id);
    store().file.schedules.erase(findById(id));
    return finishChange(0);
}

bool recordScheduleOutcome(uint32_t id, const ScheduleOccurrence& occurrence, ScheduleState state) {
    const auto place = findById(id);
    if (place == store().file.schedules.end())
        return false;
    setOccurrenceState(*place, occurrence, state);
    saveSchedules();
    tellWatchers();
    return true;
}

void recordMissedSchedules(const std::vector<MissedSchedule>& missed, FileTime checkedAt) {
    markMissed(store().file.schedules, missed);
    store().file.lastCheck = checkedAt;
    saveSchedules();
    tellWatchers();
}

void recordScheduleCheck(FileTime checkedAt, bool save) {
    store().file.lastCheck = checkedAt;
    if (save)
        saveSchedules();
}

std::wstring scheduleConflictText(const ScheduleChangeResult& result) {
    if (!result.conflict || !result.occurrences)
        return L"Cet enregistrement chevauche un autre enregistrement programmé sur un autre "
               L"multiplex.";
    const ScheduleOccurrence& other = result.occurrences->other;
    const std::wstring name = toWide(widenAnsi(shownDvbText(result.conflict->channel.name.view())));
    return L"Cet enregistrement chevauche celui de " + name + L" le " + localDayText(other.day) +
           L" de " + localClockText(other.start) + L" à " + localClockText(other.end) +
           L", sur un autre multiplex : un seul tuner ne peut pas recevoir les deux.";
}

void addScheduleWatcher(HWND window) {
    std::vector<HWND>& watchers = store().watchers;
    if (std::find(watchers.begin(), watchers.end(), window) == watchers.end())
        watchers.push_back(window);
}

void removeScheduleWatcher(HWND window) {
    std::vector<HWND>& watchers = store().watchers;
    watchers.erase(std::remove(watchers.begin(), watchers.end(), window), watchers.end());
}

} // namespace korvane

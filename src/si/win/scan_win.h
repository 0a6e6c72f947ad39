#pragma once

#include "si/scan.h"
#include "si/section_assembler.h"

#include <windows.h>

namespace korvane {

// The section pointer type of a section list's GetSectionData (PSECTION for the platform's).
template <class Method> struct SectionPointerOf;
template <class List, class Result, class Pointer>
struct SectionPointerOf<Result (List::*)(WORD, DWORD*, Pointer*)> {
    using type = Pointer;
};

// The section filter type of a reader's GetSection (MPEG2_FILTER for the platform's).
template <class Method> struct SectionFilterOf;
template <class Data, class Result, class Filter, class List>
struct SectionFilterOf<Result (Data::*)(WORD, BYTE, Filter*, DWORD, List**)> {
    using type = Filter;
};

// The scan's table reads through the platform's sections-and-tables filter. Templated on the
// two interfaces so that it works with whichever declaration of them the graph uses (their
// method order matters, and the system headers do not all agree). A request with a table id
// extension asks the reader to filter on it. The first section of the list is copied with
// the length the reader reports; a read that fails or reports a length no section can have
// counts as a time-out. The caller keeps the interface alive while a read runs.
template <class Mpeg2Data, class SectionList> class Mpeg2DataSectionReader : public SectionReader {
  public:
    explicit Mpeg2DataSectionReader(Mpeg2Data* data) : data_(data) {}

    std::optional<Section> getSection(const SectionRequest& request) override {
        if (!data_)
            return std::nullopt;
        typename SectionFilterOf<decltype(&Mpeg2Data::GetSection)>::type filter{};
        filter.bVersionNumber = 1;
        filter.wFilterSize = sizeof(filter);
        filter.fSpecifyTableIdExtension = request.extension ? TRUE : FALSE;
        filter.TableIdExtension = request.extension.value_or(0);
        SectionList* list = nullptr;
        HRESULT hr =
            data_->GetSection(request.pid, request.tableId, request.extension ? &filter : nullptr,
                              static_cast<DWORD>(request.timeoutMs), &list);
        if (FAILED(hr) || !list)
            return std::nullopt;
        std::optional<Section> result;
        DWORD length = 0;
        typename SectionPointerOf<decltype(&SectionList::GetSectionData)>::type section = nullptr;
        hr = list->GetSectionData(0, &length, &section);
        if (SUCCEEDED(hr) && section && length > 0 && length <= kMaxSectionSize) {
            const auto* bytes = reinterpret_cast<const uint8_t*>(section);
            result.emplace(bytes, bytes + length);
        }
        list->Release();
        return result;
    }

  private:
    Mpeg2Data* data_;
};

// The scan dialog's progress bar and list of names.
class DialogScanProgress : public ScanProgress {
  public:
    explicit DialogScanProgress(HWND dialog) : dialog_(dialog) {}
    void setRange(int count) override;
    void setPosition(int position) override;
    void addName(std::string_view name) override;
    void end() override;

  private:
    HWND dialog_;
};

// Shows a dialog resource modally, owned by a window. Escape and the dialog's close ask the
// scan to stop (it is cancelled); only the end of the scan closes the dialog.
class ModalScanDialog : public ScanDialog {
  public:
    ModalScanDialog(HINSTANCE instance, int resourceId, HWND owner, ScanStopFlag& stop)
        : instance_(instance), resourceId_(resourceId), owner_(owner), stop_(&stop) {}
    void runModal() override;

  private:
    HINSTANCE instance_;
    int resourceId_;
    HWND owner_;
    ScanStopFlag* stop_;
};

// The owner's WM_ENTERIDLE: true when it is the one that must start the scan (a dialog is
// idling, a scan is pending and none is running yet).
bool isScanStartIdle(const ScanState& state, WPARAM wParam);

} // namespace korvane

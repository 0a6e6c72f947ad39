#include "capture/win/recording_failure.h"

#include "common/win/show_error.h"

namespace korvane {

void WindowFailureReporter::reportRecordingFailure(RecordingFailure failure) {
    if (window_ != nullptr)
        PostMessageW(window_, kRecordingFailedMessage, static_cast<WPARAM>(generation_),
                     static_cast<LPARAM>(failure));
}

const wchar_t* recordingFailureText(RecordingFailure failure) {
    if (failure == RecordingFailure::CreateFailed)
        return L"Impossible de créer le fichier d'enregistrement. Vérifiez le répertoire vidéo. "
               L"L'enregistrement est arrêté.";
    return L"Erreur d'écriture dans le fichier d'enregistrement (disque plein ou répertoire "
           L"supprimé ?). L'enregistrement est arrêté.";
}

void handleRecordingFailed(WPARAM wParam, LPARAM lParam, uint32_t running, void (*stopRecording)(),
                           void (*show)(const wchar_t* text)) {
    if (running == 0 || wParam != static_cast<WPARAM>(running))
        return;
    RecordingFailure failure = lParam == static_cast<LPARAM>(RecordingFailure::CreateFailed)
                                   ? RecordingFailure::CreateFailed
                                   : RecordingFailure::WriteFailed;
    if (stopRecording != nullptr)
        stopRecording();
    (show != nullptr ? show : showError)(recordingFailureText(failure));
}

} // namespace korvane

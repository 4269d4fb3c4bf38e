#pragma once
// The window of the unattended mode is the terminal. The presenter keeps the state of the
// controls the worker sets, draws a progress bar from "install_progress" and "install_label",
// prints every message box with its kind and texts and answers it with its default button, and
// does what the window does for the worker's private messages.
//
// Threads: the worker, the side queries and the pacers call it from their own threads; one
// lock guards the control state and the output.

#include <condition_variable>
#include <map>
#include <memory>
#include <mutex>
#include <ostream>
#include <set>
#include <string>
#include <vector>

#include "Common/install_window.h"
#include "Common/progress_line.h"

namespace ui {
class ZipArchive;
}

// The text of a label or language string as a terminal shows it: the inline tags removed,
// line breaks kept. Text that is not a tag (including "#@!...#@!" markers) stays as it is.
std::string PlainText(const std::string& markupText);

// "[##########----------]  50%" for a value of 0..100 (clamped) and a bar of `width` cells.
std::string ProgressBar(int value, int width);

class ConsolePresenter : public InstallWindow {
public:
    // `redrawInPlace`: the terminal redraws the progress line in place; otherwise (a log or a
    // pipe) the line is printed every five points and at each change of phase.
    ConsolePresenter(std::ostream& out, std::shared_ptr<const ui::ZipArchive> skin,
                     std::map<std::string, std::string> labels, bool redrawInPlace);
    ~ConsolePresenter() override;

    void SetControlText(std::string_view control, const std::string& text) override;
    void SetControlVisible(std::string_view control, bool visible) override;
    void SetControlEnabled(std::string_view control, bool enabled) override;
    void SetProgressValue(std::string_view control, int value) override;
    void SelectTabPage(std::string_view control, int page) override;
    bool HasControl(std::string_view control) const override;
    std::optional<std::string> LabelText(std::string_view label) const override;
    int ShowMessageBox(int kind) override;
    void StopSlides() override {}
    void DownloadBytesChanged(int64_t done, int64_t total) override;
    void PostWindowMessage(int message) override;
    std::string GetInstallPath() const override;
    std::string LanguageText(std::string_view section, std::string_view key) const override;

    // The folder the user chose (the edit's text) and the product folder appended to it.
    void SetChosenFolder(std::string folder, std::string productFolder);
    // Fixed by the install click; from then on the install path.
    void SetPreparedInstallPath(std::string path);

    // Prints a line of its own (the bar is redrawn after it).
    void Print(const std::string& line);

    // What the run showed.
    std::vector<int> MessageKinds() const;
    bool FailureShown() const;
    bool Ended() const;
    std::string ControlText(std::string_view control) const;
    bool ControlVisible(std::string_view control) const;
    int ControlValue(std::string_view control) const;

private:
    struct Control {
        std::string text;
        bool visible = true;
        bool enabled = true;
        int value = 0;
        int page = 0;
    };

    Control& control(std::string_view name);  // m_mutex held
    void drawBar();                           // m_mutex held
    void endBarLine();                        // m_mutex held
    void printLine(const std::string& line);  // m_mutex held
    std::string languageTextOrEnglish(std::string_view section, std::string_view key) const;

    std::ostream& m_out;
    std::shared_ptr<const ui::ZipArchive> m_skin;
    const std::map<std::string, std::string> m_labels;
    const bool m_redrawInPlace;

    mutable std::mutex m_mutex;
    std::map<std::string, Control, std::less<>> m_controls;
    std::vector<int> m_messageKinds;
    bool m_ended = false;
    bool m_barOnLine = false;  // the cursor stands after a drawn bar
    int m_lastPrintedStep = -1;
    InstallPhase m_lastPrintedPhase = InstallPhase::Downloading;
    int64_t m_done = 0;
    int64_t m_total = 0;
    TransferRate m_rate;
    RedrawPacer m_redraws;
    std::string m_chosenFolder;
    std::string m_productFolder;
    std::string m_preparedPath;
    mutable std::mutex m_skinMutex;  // the package reader is not safe for concurrent reads
};

#include "Common/console_presenter.h"

#include <unistd.h>

#include <algorithm>

#include "Common/host_probes.h"
#include "Common/install_session.h"
#include "Common/message_box_wnd.h"
#include "Common/message_kinds.h"
#include "FuntionImpl.h"
#include "Logging.h"
#include "platform/System.h"
#include "ui/ZipArchive.h"

namespace {

constexpr int kBarWidth = 20;
constexpr int kPrintedStep = 5;  // points between two printed bars when not redrawing

// The main window's controls the worker may address; others do not exist in its markup.
const std::set<std::string, std::less<>> kMainWindowControls = {"main_tablayout",
                                                                "backgroudlayout",
                                                                "minbtn",
                                                                "closebtn",
                                                                "text_product_name",
                                                                "text_fail_retry",
                                                                "page_layout",
                                                                "set_layout",
                                                                "license_text",
                                                                "select_language_text",
                                                                "language_combox",
                                                                "install_path_text",
                                                                "install_file_path_edit",
                                                                "browser_btn",
                                                                "space_need",
                                                                "space_free",
                                                                "agree_improvement_checkbox",
                                                                "agree_improvement",
                                                                "install_btn",
                                                                "license_checkbox",
                                                                "license_link",
                                                                "install_setting",
                                                                "text_startshortcut",
                                                                "start_app",
                                                                "img_warning",
                                                                "text_fail_advice",
                                                                "image_play",
                                                                "install_progress",
                                                                "install_label",
                                                                "install_minbtn"};

// Inline tags of the skin's texts: a letter from this set, optionally one argument.
bool isTagLetter(char c) {
    return c == 'f' || c == 'c' || c == 'a' || c == 'u' || c == 'n' || c == 'p';
}

}  // namespace

std::string PlainText(const std::string& text) {
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '{') {
            const size_t close = text.find('}', i + 1);
            size_t nameAt = i + 1;
            const bool ending = nameAt < text.size() && text[nameAt] == '/';
            if (ending)
                ++nameAt;
            if (close != std::string::npos && nameAt < close && isTagLetter(text[nameAt]) &&
                (nameAt + 1 == close || text[nameAt + 1] == ' ') && text.find('{', i + 1) > close) {
                const char tag = text[nameAt];
                if (!ending && (tag == 'n' || tag == 'p') && !out.empty())
                    out += '\n';
                i = close;
                continue;
            }
        }
        out += text[i];
    }
    return out;
}

std::string ProgressBar(int value, int width) {
    value = std::clamp(value, 0, 100);
    width = std::max(width, 1);
    const int filled = value * width / 100;
    char percent[8];
    std::snprintf(percent, sizeof percent, "%3d%%", value);
    return "[" + std::string(static_cast<size_t>(filled), '#') +
           std::string(static_cast<size_t>(width - filled), '-') + "] " + percent;
}

ConsolePresenter::ConsolePresenter(std::ostream& out, std::shared_ptr<const ui::ZipArchive> skin,
                                   std::map<std::string, std::string> labels, bool redrawInPlace)
    : m_out(out),
      m_skin(std::move(skin)),
      m_labels(std::move(labels)),
      m_redrawInPlace(redrawInPlace) {}

ConsolePresenter::~ConsolePresenter() {
    std::lock_guard<std::mutex> lock(m_mutex);
    endBarLine();
}

ConsolePresenter::Control& ConsolePresenter::control(std::string_view name) {
    auto it = m_controls.find(name);
    if (it == m_controls.end())
        it = m_controls.emplace(std::string(name), Control{}).first;
    return it->second;
}

void ConsolePresenter::endBarLine() {
    if (m_barOnLine) {
        m_out << '\n';
        m_barOnLine = false;
    }
}

void ConsolePresenter::printLine(const std::string& line) {
    endBarLine();
    m_out << line << '\n';
    m_out.flush();
}

void ConsolePresenter::DownloadBytesChanged(int64_t done, int64_t total) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_done = done;
    m_total = total;
    m_rate.Add(platform::tickCount(), done);
}

void ConsolePresenter::drawBar() {
    ProgressFigures figures;
    figures.value = control("install_progress").value;
    figures.label = PlainText(control("install_label").text);
    figures.done = m_done;
    figures.total = m_total;
    figures.bytesPerSecond = m_rate.BytesPerSecond();
    figures.secondsLeft = m_rate.SecondsLeft(m_total);
    if (m_redrawInPlace) {
        const std::string line =
            FitToColumns(ProgressLineText(figures, kBarWidth), TerminalColumns(STDOUT_FILENO));
        if (!m_redraws.Due(platform::tickCount(), figures.value, line))
            return;
        m_out << '\r' << line << "\x1b[K";
        m_out.flush();
        m_barOnLine = true;
        return;
    }
    const int value = figures.value;
    const int step = value >= 100 ? 100 / kPrintedStep : value / kPrintedStep;
    const InstallPhase phase = PhaseOfBar(value);
    if (step == m_lastPrintedStep && phase == m_lastPrintedPhase)
        return;
    m_lastPrintedStep = step;
    m_lastPrintedPhase = phase;
    const std::string line = ProgressLineText(figures, kBarWidth);
    m_out << line << '\n';
    m_out.flush();
}

void ConsolePresenter::SetControlText(std::string_view name, const std::string& text) {
    std::lock_guard<std::mutex> lock(m_mutex);
    control(name).text = text;
    if (name == "install_label")
        drawBar();
}

void ConsolePresenter::SetControlVisible(std::string_view name, bool visible) {
    std::lock_guard<std::mutex> lock(m_mutex);
    Control& c = control(name);
    const bool shown = visible && !c.visible;
    c.visible = visible;
    // The failure presentation is the only thing of the finish page a terminal needs to say.
    if (name == "text_fail_retry" && shown) {
        std::string why = PlainText(languageTextOrEnglish("install_page", "text_fail_retry"));
        printLine("Install failed" + (why.empty() ? std::string(".") : ": " + why));
    }
}

void ConsolePresenter::SetControlEnabled(std::string_view name, bool enabled) {
    std::lock_guard<std::mutex> lock(m_mutex);
    control(name).enabled = enabled;
}

void ConsolePresenter::SetProgressValue(std::string_view name, int value) {
    std::lock_guard<std::mutex> lock(m_mutex);
    control(name).value = value;
    if (name == "install_progress")
        drawBar();
}

void ConsolePresenter::SelectTabPage(std::string_view name, int page) {
    std::lock_guard<std::mutex> lock(m_mutex);
    control(name).page = page;
}

bool ConsolePresenter::HasControl(std::string_view name) const {
    return kMainWindowControls.count(name) != 0;
}

std::optional<std::string> ConsolePresenter::LabelText(std::string_view label) const {
    const auto it = m_labels.find(std::string(label));
    if (it == m_labels.end())
        return std::nullopt;
    return it->second;
}

std::string ConsolePresenter::LanguageText(std::string_view section, std::string_view key) const {
    if (!m_skin)
        return {};
    std::lock_guard<std::mutex> lock(m_skinMutex);
    return FuntionImpl::GetLanguageText(*m_skin, section, key, languageIndex);
}

std::string ConsolePresenter::languageTextOrEnglish(std::string_view section,
                                                    std::string_view key) const {
    std::string text = LanguageText(section, key);
    if (text.empty() && languageIndex != 0 && m_skin) {
        // A terminal user is better served by the English text than by none.
        std::lock_guard<std::mutex> lock(m_skinMutex);
        text = FuntionImpl::GetLanguageText(*m_skin, section, key, 0);
    }
    return text;
}

int ConsolePresenter::ShowMessageBox(int kind) {
    const MessageKindTexts texts = MessageKindTextsFor(kind);
    auto textOf = [this](std::string_view key) {
        return key.empty() ? std::string() : PlainText(languageTextOrEnglish("message_page", key));
    };
    const std::string describe = textOf(texts.describeKey);
    const std::string question = textOf(texts.questionKey);
    std::string button = textOf(texts.yesKey);
    if (button.empty())
        button = "OK";
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_messageKinds.push_back(kind);
        std::string line = "Message " + std::to_string(kind);
        if (!texts.use.empty())
            line += " (" + std::string(texts.use) + ")";
        line += ":";
        if (!describe.empty())
            line += " " + describe;
        if (!question.empty())
            line += " " + question;
        printLine(line);
        printLine("  -> " + button);
    }
    LOG(INFO) << " Message box " << kind << " answered with its default button";
    if (MessageKindDeletesSetup(kind))
        PostWindowMessage(kMsgDeleteDownloadedSetup);
    return 1;
}

void ConsolePresenter::PostWindowMessage(int message) {
    if (message == kMsgDeleteDownloadedSetup) {
        DeleteDownloadedSetup(DownloadedSetupPath());
        return;
    }
    if (message == kMsgInstallEnded) {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_ended = true;
        endBarLine();
    }
}

void ConsolePresenter::SetChosenFolder(std::string folder, std::string productFolder) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_chosenFolder = std::move(folder);
    m_productFolder = std::move(productFolder);
}

void ConsolePresenter::SetPreparedInstallPath(std::string path) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_preparedPath = std::move(path);
}

std::string ConsolePresenter::GetInstallPath() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    // Once the click fixed the folder (possibly beside one waiting for a restart), the setup
    // goes there and nowhere else.
    if (!m_preparedPath.empty())
        return m_preparedPath;
    return ComposeInstallPath(m_chosenFolder, m_productFolder);
}

void ConsolePresenter::Print(const std::string& line) {
    std::lock_guard<std::mutex> lock(m_mutex);
    printLine(line);
}

std::vector<int> ConsolePresenter::MessageKinds() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_messageKinds;
}

bool ConsolePresenter::FailureShown() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    const auto it = m_controls.find("text_fail_retry");
    return it != m_controls.end() && it->second.visible;
}

bool ConsolePresenter::Ended() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_ended;
}

std::string ConsolePresenter::ControlText(std::string_view name) const {
    std::lock_guard<std::mutex> lock(m_mutex);
    const auto it = m_controls.find(name);
    return it == m_controls.end() ? std::string() : it->second.text;
}

bool ConsolePresenter::ControlVisible(std::string_view name) const {
    std::lock_guard<std::mutex> lock(m_mutex);
    const auto it = m_controls.find(name);
    return it == m_controls.end() || it->second.visible;
}

int ConsolePresenter::ControlValue(std::string_view name) const {
    std::lock_guard<std::mutex> lock(m_mutex);
    const auto it = m_controls.find(name);
    return it == m_controls.end() ? 0 : it->second.value;
}

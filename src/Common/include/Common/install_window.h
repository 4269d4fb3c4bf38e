#pragma once
// What the install worker and the side-query threads need of their window, and nothing else:
// the members they read and write and the presentation calls they make. The GUI window and the
// console presenter of the unattended mode both implement it.
//
// Threads: the worker, the side-query threads and the progress pacers call the operations from
// their own threads; implementations make them safe to call from any thread. Members that
// several threads touch are atomics or are reached through the guarded accessors below.

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

class CConfigure;

// Private window messages the worker and the message box post.
inline constexpr int kWmUser = 0x400;
inline constexpr int kMsgInstallEnded = kWmUser + 2;           // the worker ended (stage is 1)
inline constexpr int kMsgDeleteDownloadedSetup = kWmUser + 4;  // after message kinds 6 and 7

// Message kinds of ShowMessageBox (the texts come from the language file's message page).
enum EnumMsgType {
    kMsgReplace = 0,
    kMsgCancelQuestion = 2,
    kMsgAppRunning = 3,
    kMsgPathError = 4,
    kMsgSetupTimeout = 6,    // InstallRunTimeOut texts
    kMsgVerifyFailed = 7,    // MD5Fail texts
    kMsgUrlFailed = 8,       // UrlFail texts
    kMsgInternetFailed = 9,  // InternetFail texts
    kMsgInternetTimeout = 10,
    kMsgNoSpace = 11,
};

// The three parallel sub-program lists, filled by the sub-program query while the worker reads
// them by index.
class SubProgramLists {
public:
    void setNames(std::vector<std::string> names);
    std::vector<std::string> names() const;
    void clearDownloads();
    void appendDownload(std::string url, std::string file);
    // Entry k of the URL / file lists, nullopt while the list is shorter.
    std::optional<std::string> url(size_t k) const;
    std::optional<std::string> file(size_t k) const;
    std::vector<std::string> files() const;
    size_t urlCount() const;
    // True when both lists have one non-empty entry per name.
    bool complete() const;

private:
    mutable std::mutex m_mutex;
    std::vector<std::string> m_names;
    std::vector<std::string> m_urls;
    std::vector<std::string> m_files;
};

// Free bytes of the file system a folder is (or will be) created on; nullopt when unknown.
using FreeSpaceProbe = std::function<std::optional<uint64_t>(const std::string& folder)>;

class InstallWindow {
public:
    virtual ~InstallWindow() = default;

    // Controls by name. Unknown names are ignored.
    virtual void SetControlText(std::string_view control, const std::string& text) = 0;
    virtual void SetControlVisible(std::string_view control, bool visible) = 0;
    virtual void SetControlEnabled(std::string_view control, bool enabled) = 0;
    virtual void SetProgressValue(std::string_view control, int value) = 0;
    virtual void SelectTabPage(std::string_view control, int page) = 0;
    virtual bool HasControl(std::string_view control) const = 0;
    // Text of a configure.xml label of the window's markup; nullopt when there is no such label.
    virtual std::optional<std::string> LabelText(std::string_view label) const = 0;

    // Modal: returns when answered (1 or 2).
    virtual int ShowMessageBox(int kind) = 0;
    virtual void StopSlides() = 0;
    virtual void PostWindowMessage(int message) = 0;
    // The install folder the user chose.
    virtual std::string GetInstallPath() const = 0;
    // A text of the language file of `languageIndex`, empty when missing.
    virtual std::string LanguageText(std::string_view section, std::string_view key) const = 0;

    // Maps a download's progress onto the bar: 0..80 for the main file alone, else 0..40 for
    // the main file and 40..60, 60..80 for the two sub-programs.
    void ShowDownloadProgress(int64_t done, int64_t total);
    // The byte counts behind the bar, given just before it moves (the download's thread); a
    // window that shows only the bar ignores them.
    virtual void DownloadBytesChanged(int64_t /*done*/, int64_t /*total*/) {}
    // Shows `value` on "install_label" (through progressFormat) and "install_progress".
    void ShowProgressValue(double value);

    std::string UrlUsed() const;
    void SetUrlUsed(std::string url);

    CConfigure* configure = nullptr;  // owned by the window
    // The downloaded setup file and its task file (path + ".xml"), set by the worker once it
    // knows them; the window deletes both on kMsgDeleteDownloadedSetup.
    std::string DownloadedSetupPath() const;
    void SetDownloadedSetupPath(std::string path);
    int downloaderId = 0;
    std::string downloadDirectory;
    std::string progressFormat = "%0.f%%";
    std::atomic<int> languageIndex{0};
    std::atomic<bool> isRetry{false};
    std::atomic<bool> spTracking{true};
    std::atomic<int> needStart{1};
    std::atomic<bool> running{false};
    std::atomic<int> stage{2};
    std::atomic<int> subProgramCounter{0};
    SubProgramLists subPrograms;
    // Measures the install folder's file system before the install starts; empty: the real one.
    // Set on the UI thread before the install click (a test gives the figure here).
    FreeSpaceProbe freeSpaceProbe;

private:
    mutable std::mutex m_urlMutex;
    std::string m_urlUsed;
    std::string m_setupPath;
};

// printf-style `format` with one double, as the language files write it ("%0.f%%"); a format
// that does not take exactly one floating-point conversion is shown as it is.
std::string FormatProgress(const std::string& format, double value);

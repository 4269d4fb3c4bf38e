#include "Common/install_window.h"

#include <cmath>
#include <cstdio>
#include <string_view>

#include "TextUtil.h"

void SubProgramLists::setNames(std::vector<std::string> names) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_names = std::move(names);
}

std::vector<std::string> SubProgramLists::names() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_names;
}

void SubProgramLists::clearDownloads() {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_urls.clear();
    m_files.clear();
}

void SubProgramLists::appendDownload(std::string url, std::string file) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_urls.push_back(std::move(url));
    m_files.push_back(std::move(file));
}

std::optional<std::string> SubProgramLists::url(size_t k) const {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (k >= m_urls.size())
        return std::nullopt;
    return m_urls[k];
}

std::optional<std::string> SubProgramLists::file(size_t k) const {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (k >= m_files.size())
        return std::nullopt;
    return m_files[k];
}

std::vector<std::string> SubProgramLists::files() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_files;
}

size_t SubProgramLists::urlCount() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_urls.size();
}

bool SubProgramLists::complete() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_urls.size() != m_names.size() || m_files.size() != m_names.size())
        return false;
    for (size_t i = 0; i < m_names.size(); ++i)
        if (m_urls[i].empty() || m_files[i].empty())
            return false;
    return true;
}

std::string FormatProgress(const std::string& format, double value) {
    // Only one conversion, a floating-point one with nothing but flags, width and precision,
    // may reach snprintf.
    const auto conversions = formatConversions(format);
    if (conversions.size() != 1)
        return format;
    const std::string_view directive = conversions[0].text;
    const std::string_view modifiers = directive.substr(1, directive.size() - 2);
    if (std::string_view("fFeEgGaA").find(conversions[0].conversion) == std::string_view::npos ||
        modifiers.find_first_not_of("-+ #0123456789.") != std::string_view::npos)
        return format;
    char buffer[512];
    std::snprintf(buffer, sizeof buffer, format.c_str(), value);
    return buffer;
}

void InstallWindow::ShowProgressValue(double value) {
    SetControlText("install_label", FormatProgress(progressFormat, value));
    SetProgressValue("install_progress", static_cast<int>(value));
}

void InstallWindow::ShowDownloadProgress(int64_t done, int64_t total) {
    DownloadBytesChanged(done, total);
    float base = 0, span = 80;
    if (!subPrograms.names().empty()) {
        switch (subProgramCounter.load()) {
            case 0:
                base = 0;
                span = 40;
                break;
            case 1:
                base = 40;
                span = 20;
                break;
            case 2:
                base = 60;
                span = 20;
                break;
            default:
                base = 0;
                span = 80;
                break;
        }
    }
    float value =
        total > 0 ? static_cast<float>(done) / static_cast<float>(total) * span + base : base;
    if (std::trunc(value) < 0)
        value = 0;
    ShowProgressValue(value);
}

std::string InstallWindow::UrlUsed() const {
    std::lock_guard<std::mutex> lock(m_urlMutex);
    return m_urlUsed;
}

void InstallWindow::SetUrlUsed(std::string url) {
    std::lock_guard<std::mutex> lock(m_urlMutex);
    m_urlUsed = std::move(url);
}

std::string InstallWindow::DownloadedSetupPath() const {
    std::lock_guard<std::mutex> lock(m_urlMutex);
    return m_setupPath;
}

void InstallWindow::SetDownloadedSetupPath(std::string path) {
    std::lock_guard<std::mutex> lock(m_urlMutex);
    m_setupPath = std::move(path);
}

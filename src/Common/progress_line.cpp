#include "Common/progress_line.h"

#include <sys/ioctl.h>

#include <algorithm>
#include <cstdio>

#include "Common/console_presenter.h"
#include "TextUtil.h"

namespace {

// Long enough to smooth the segments' bursts, short enough to follow a change of line speed.
constexpr uint64_t kRateWindowMs = 5000;
constexpr uint64_t kLeastSpanMs = 500;

}  // namespace

InstallPhase PhaseOfBar(int value) {
    if (value >= 100)
        return InstallPhase::Finished;
    if (value > 90)
        return InstallPhase::Installing;
    if (value > 80)
        return InstallPhase::Verifying;
    return InstallPhase::Downloading;
}

const char* PhaseName(InstallPhase phase) {
    switch (phase) {
        case InstallPhase::Downloading:
            return "downloading";
        case InstallPhase::Verifying:
            return "verifying";
        case InstallPhase::Installing:
            return "installing";
        case InstallPhase::Finished:
            return "finished";
    }
    return "";
}

std::string ByteCountText(int64_t bytes) {
    bytes = std::max<int64_t>(bytes, 0);
    char text[32];
    if (bytes < 1024) {
        std::snprintf(text, sizeof text, "%lld B", static_cast<long long>(bytes));
        return text;
    }
    const char* const units[] = {"KiB", "MiB", "GiB", "TiB"};
    double value = static_cast<double>(bytes) / 1024.0;
    size_t unit = 0;
    while (value >= 1024.0 && unit + 1 < std::size(units)) {
        value /= 1024.0;
        ++unit;
    }
    std::snprintf(text, sizeof text, unit >= 2 ? "%.2f %s" : "%.1f %s", value, units[unit]);
    return text;
}

std::string DurationText(int64_t seconds) {
    seconds = std::max<int64_t>(seconds, 0);
    char text[32];
    const long long h = seconds / 3600, m = seconds / 60 % 60, s = seconds % 60;
    if (h > 0)
        std::snprintf(text, sizeof text, "%lld:%02lld:%02lld", h, m, s);
    else
        std::snprintf(text, sizeof text, "%lld:%02lld", m, s);
    return text;
}

void TransferRate::Add(uint64_t nowMs, int64_t done) {
    if (!m_samples.empty() && (done < m_samples.back().second || nowMs < m_samples.back().first))
        m_samples.clear();
    m_samples.emplace_back(nowMs, done);
    // Keep one sample at or before the window's start, so the span covers the whole window.
    while (m_samples.size() > 2 && nowMs - m_samples[1].first >= kRateWindowMs)
        m_samples.pop_front();
}

std::optional<double> TransferRate::BytesPerSecond() const {
    if (m_samples.size() < 2)
        return std::nullopt;
    const auto& [firstMs, firstDone] = m_samples.front();
    const auto& [lastMs, lastDone] = m_samples.back();
    if (lastMs - firstMs < kLeastSpanMs)
        return std::nullopt;
    return static_cast<double>(lastDone - firstDone) * 1000.0 /
           static_cast<double>(lastMs - firstMs);
}

std::optional<int64_t> TransferRate::SecondsLeft(int64_t total) const {
    const auto speed = BytesPerSecond();
    if (!speed || *speed <= 0 || m_samples.empty())
        return std::nullopt;
    const int64_t left = std::max<int64_t>(total - m_samples.back().second, 0);
    // Rounded up: "0:00 left" only once nothing is left.
    return static_cast<int64_t>((static_cast<double>(left) + *speed - 1) / *speed);
}

std::string ProgressLineText(const ProgressFigures& figures, int barWidth) {
    const InstallPhase phase = PhaseOfBar(figures.value);
    std::string line = ProgressBar(figures.value, barWidth) + "  " + PhaseName(phase);
    if (phase == InstallPhase::Downloading && figures.total > 0) {
        line += "  " + ByteCountText(figures.done) + " of " + ByteCountText(figures.total);
        if (figures.bytesPerSecond)
            line += "  " + ByteCountText(static_cast<int64_t>(*figures.bytesPerSecond)) + "/s";
        if (figures.secondsLeft)
            line += "  " + DurationText(*figures.secondsLeft) + " left";
    }
    // The skin's label mostly repeats the percentage; only other words are worth the room.
    if (figures.label.find_first_not_of(" 0123456789.%") != std::string::npos)
        line += "  " + figures.label;
    return line;
}

bool RedrawPacer::Due(uint64_t nowMs, int value, const std::string& line) {
    if (line == m_line)
        return false;
    if (value == m_value && nowMs - m_atMs < kGapMs)
        return false;
    m_line = line;
    m_value = value;
    m_atMs = nowMs;
    return true;
}

std::string FitToColumns(const std::string& line, int columns) {
    const size_t room = columns > 1 ? static_cast<size_t>(columns - 1) : 0;
    size_t at = 0;
    for (size_t shown = 0; at < line.size() && shown < room; ++shown) {
        const size_t length = utf8SequenceLength(std::string_view(line).substr(at));
        at += length == 0 ? 1 : length;
    }
    return line.substr(0, at);
}

int TerminalColumns(int fd) {
    winsize size{};
    if (::ioctl(fd, TIOCGWINSZ, &size) != 0 || size.ws_col == 0)
        return 80;
    return size.ws_col;
}

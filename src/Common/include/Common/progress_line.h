#pragma once
// The unattended mode's progress line, as a terminal user knows it from wget or apt: the bar,
// the phase, and while downloading the bytes done of the total, the speed and the time left.
//
//   [######--------------]  30%  downloading  30.0 MiB of 100.0 MiB  5.0 MiB/s  0:14 left
//
// Pure text and arithmetic: the presenter feeds it times in milliseconds (any monotonic
// clock), so a test decides what the clock says.

#include <cstdint>
#include <deque>
#include <optional>
#include <string>
#include <utility>

enum class InstallPhase { Downloading, Verifying, Installing, Finished };

// The phase a value of the worker's bar stands for: the downloads fill 0..80, the check of the
// downloaded setup moves it through 81..90, the setup's run through 91..99, 100 is the end.
InstallPhase PhaseOfBar(int value);
const char* PhaseName(InstallPhase phase);

// "512 B", "12.3 KiB", "100.0 MiB", "1.50 GiB" (units of 1024).
std::string ByteCountText(int64_t bytes);
// "0:07", "12:05", "1:02:03"; never negative.
std::string DurationText(int64_t seconds);

// The speed of a download over its last few seconds, and the time left at that speed.
// Not thread-safe: its owner serialises the calls.
class TransferRate {
public:
    // `done` bytes at `nowMs`. A count below the last one starts a new file (a sub-program,
    // a retry from scratch): the earlier samples no longer count.
    void Add(uint64_t nowMs, int64_t done);
    // Nullopt until the samples span half a second.
    std::optional<double> BytesPerSecond() const;
    // Nullopt without a speed, or when nothing moves.
    std::optional<int64_t> SecondsLeft(int64_t total) const;

private:
    std::deque<std::pair<uint64_t, int64_t>> m_samples;  // (ms, bytes), oldest first
};

struct ProgressFigures {
    int value = 0;      // the bar, 0..100
    std::string label;  // the skin's label text; shown unless it only repeats the percentage
    int64_t done = 0;   // bytes of the file being downloaded; total 0 = not known yet
    int64_t total = 0;
    std::optional<double> bytesPerSecond;
    std::optional<int64_t> secondsLeft;
};

// The whole line for `figures`, with a bar of `barWidth` cells.
std::string ProgressLineText(const ProgressFigures& figures, int barWidth);

// Whether a redrawn line is worth drawing: the download reports many times a second, and a
// terminal that is rewritten that often flickers and floods a recording of the session.
// A new percentage or phase is drawn at once; a change of the figures alone at most every
// kGapMs. Not thread-safe: its owner serialises the calls.
class RedrawPacer {
public:
    static constexpr uint64_t kGapMs = 250;
    // True when `line` (for bar `value`) should be drawn at `nowMs`; it then counts as drawn.
    bool Due(uint64_t nowMs, int value, const std::string& line);

private:
    std::string m_line;
    int m_value = -1;
    uint64_t m_atMs = 0;
};

// `line` cut to fewer than `columns` characters (whole UTF-8 sequences), so a line redrawn
// with a carriage return never wraps onto a second row it could not return to.
std::string FitToColumns(const std::string& line, int columns);
// The width of the terminal on `fd`; 80 when it cannot tell.
int TerminalColumns(int fd);

// The unattended progress line's figures: units, durations, the speed over a moving window and
// the time left, and a line that never outgrows its terminal.

#include "Common/progress_line.h"

#include <gtest/gtest.h>

#include <string>

namespace {

TEST(ProgressLine, BytesAndDurationsAsATerminalUserReadsThem) {
    const struct {
        int64_t bytes;
        const char* text;
    } sizes[] = {{-5, "0 B"},
                 {0, "0 B"},
                 {1023, "1023 B"},
                 {1024, "1.0 KiB"},
                 {1536, "1.5 KiB"},
                 {1048575, "1024.0 KiB"},
                 {100LL << 20, "100.0 MiB"},
                 {3LL << 29, "1.50 GiB"}};
    for (const auto& c : sizes)
        EXPECT_EQ(ByteCountText(c.bytes), c.text) << c.bytes;
    EXPECT_EQ(DurationText(-3), "0:00");
    EXPECT_EQ(DurationText(7), "0:07");
    EXPECT_EQ(DurationText(725), "12:05");
    EXPECT_EQ(DurationText(3723), "1:02:03");
}

TEST(ProgressLine, SpeedFollowsTheLastSecondsAndANewFileStartsAfresh) {
    TransferRate rate;
    rate.Add(1000, 0);
    EXPECT_FALSE(rate.BytesPerSecond()) << "one sample says nothing";
    rate.Add(1200, 200000);
    EXPECT_FALSE(rate.BytesPerSecond()) << "too short a span to trust";
    EXPECT_FALSE(rate.SecondsLeft(10000000));
    rate.Add(2000, 1000000);
    ASSERT_TRUE(rate.BytesPerSecond());
    EXPECT_DOUBLE_EQ(*rate.BytesPerSecond(), 1000000.0);
    EXPECT_EQ(rate.SecondsLeft(10000000), 9);
    EXPECT_EQ(rate.SecondsLeft(1000001), 1) << "rounded up: not done yet";
    EXPECT_EQ(rate.SecondsLeft(1000000), 0);

    // The line slows down: after the window has passed, only the slow stretch counts.
    for (uint64_t t = 3000; t <= 12000; t += 1000)
        rate.Add(t, 1000000 + static_cast<int64_t>(t - 2000) * 100);
    ASSERT_TRUE(rate.BytesPerSecond());
    EXPECT_NEAR(*rate.BytesPerSecond(), 100000.0, 1.0);

    // Fewer bytes than before: another file; the old figures no longer count.
    rate.Add(12500, 1000);
    EXPECT_FALSE(rate.BytesPerSecond());
    rate.Add(13500, 501000);
    EXPECT_NEAR(*rate.BytesPerSecond(), 500000.0, 1.0);

    // Nothing moves: no speed to wait on.
    TransferRate stalled;
    stalled.Add(0, 5000);
    stalled.Add(2000, 5000);
    EXPECT_FALSE(stalled.SecondsLeft(10000));
}

TEST(ProgressLine, ThePhaseAndItsFiguresOnOneLine) {
    ProgressFigures f;
    f.value = 30;
    f.label = "30%";
    f.done = 30LL << 20;
    f.total = 100LL << 20;
    f.bytesPerSecond = 5.0 * (1 << 20);
    f.secondsLeft = 14;
    EXPECT_EQ(ProgressLineText(f, 10),
              "[###-------]  30%  downloading  30.0 MiB of 100.0 MiB  5.0 MiB/s  0:14 left");
    f.bytesPerSecond.reset();
    f.secondsLeft.reset();
    EXPECT_EQ(ProgressLineText(f, 10), "[###-------]  30%  downloading  30.0 MiB of 100.0 MiB");
    f.total = 0;  // not known yet
    EXPECT_EQ(ProgressLineText(f, 10), "[###-------]  30%  downloading");

    // After the download the byte figures are history; a label with words is kept.
    f.total = 100LL << 20;
    f.value = 85;
    f.label = "85% of Kestrova";
    EXPECT_EQ(ProgressLineText(f, 10), "[########--]  85%  verifying  85% of Kestrova");
    f.value = 95;
    f.label = "95%";
    EXPECT_EQ(ProgressLineText(f, 10), "[#########-]  95%  installing");
    f.value = 100;
    EXPECT_EQ(ProgressLineText(f, 10), "[##########] 100%  finished");
    EXPECT_EQ(PhaseOfBar(80), InstallPhase::Downloading);
    EXPECT_EQ(PhaseOfBar(81), InstallPhase::Verifying);
    EXPECT_EQ(PhaseOfBar(90), InstallPhase::Verifying);
    EXPECT_EQ(PhaseOfBar(91), InstallPhase::Installing);
}

TEST(ProgressLine, RedrawsAreSparedUnlessThePercentageMoves) {
    RedrawPacer pacer;
    EXPECT_TRUE(pacer.Due(1000, 10, "a"));
    EXPECT_FALSE(pacer.Due(1001, 10, "a")) << "nothing new";
    EXPECT_FALSE(pacer.Due(1100, 10, "b")) << "only the figures moved, too soon";
    EXPECT_TRUE(pacer.Due(1000 + RedrawPacer::kGapMs, 10, "b"));
    EXPECT_TRUE(pacer.Due(1000 + RedrawPacer::kGapMs + 1, 11, "c")) << "a new percentage at once";
}

TEST(ProgressLine, ALineIsCutToTheTerminalOnCharacterBoundaries) {
    EXPECT_EQ(FitToColumns("abcdef", 80), "abcdef");
    EXPECT_EQ(FitToColumns("abcdef", 4), "abc") << "the last column stays free";
    EXPECT_EQ(FitToColumns("abcdef", 0), "");
    // Three two-byte letters and a three-byte one: cut by characters, never mid-sequence.
    EXPECT_EQ(FitToColumns("\xC3\xA9\xC3\xA9\xC3\xA9\xE6\x97\xA5", 3), "\xC3\xA9\xC3\xA9");
    EXPECT_EQ(FitToColumns("\xC3\xA9\xC3\xA9\xC3\xA9\xE6\x97\xA5", 5),
              "\xC3\xA9\xC3\xA9\xC3\xA9\xE6\x97\xA5");
    // A stray byte counts as one column and is not glued to what follows.
    EXPECT_EQ(FitToColumns("\xFFxyz", 3), "\xFFx");
}

}  // namespace

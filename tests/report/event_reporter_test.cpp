// The event reporter against vendor-sim: both hits of an event, their encoding and
// dimensions, the UA result codes, the queue and its lock, and shutdown.

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#include "FuntionImplChannel.h"
#include "platform/Sync.h"
#include "report/EventReporter.h"
#include "report/MachineIdentity.h"
#include "report_env.h"

using kvtest::ReportEnv;
using Clock = std::chrono::steady_clock;

namespace {

EventReporter::Settings testSettings() {
    EventReporter::Settings settings;
    settings.version = "1.0.0.1";
    settings.osText = "Debian GNU/Linux 12 (bookworm) 64bit";
    settings.localeText = "English_United States";
    return settings;
}

long long msSince(Clock::time_point start) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

std::string uaBody(const Json::Value& hit) {
    return hit["body"].asString();
}

TEST(EventReporter, SendNowMakesTheGa4HitThenTheUaHitBeforeItReturns) {
    ReportEnv env;
    EventReporter reporter(testSettings());
    ASSERT_EQ(reporter.report("CrashRate", "Close", "", true), 0);

    const auto ga4 = env.hits("ga4", "Close");
    const auto ua = env.hits("ua", "Close");
    ASSERT_EQ(ga4.size(), 1u);
    ASSERT_EQ(ua.size(), 1u);
    EXPECT_LT(ga4[0]["seq"].asUInt64(), ua[0]["seq"].asUInt64());
    const std::string cid = weblog::clientId();
    EXPECT_EQ(ga4[0]["scheme"].asString(), "https");
    EXPECT_EQ(ga4[0]["method"].asString(), "POST");
    EXPECT_EQ(ga4[0]["body"].asString(), "");
    EXPECT_EQ(
        ga4[0]["query"].asString(),
        "v=2&_ss=1&_c=1&sid=1677653616&cid=" + cid +
            "&tid=G-Q7MZ2KD9XW&ep.kv_productname=Downloader&ep.kv_productversion=1.0.0.1"
            "&ep.kv_category=CrashRate&ep.kv_action=Close&ep.kv_label=&en=Close&ep.cd1=1.0.0.1"
            "&ep.cd2=SEO&ep.cd3=0&ep.cd4=&ep.cd5=United%20States&ep.cd6=English"
            "&ep.cd7=Debian%20GNU%2fLinux%2012%20(bookworm)%2064bit&ep.cd8=1");
    EXPECT_EQ(ua[0]["scheme"].asString(), "http");
    EXPECT_EQ(uaBody(ua[0]),
              "v=1&tid=UA-305918462-1&cid=" + cid +
                  "&t=event&ec=CrashRate&ea=Close&el=&an=Downloader&av=1.0.0.1&cd1=1.0.0.1&cd2=SEO"
                  "&cd3=0&cd4=&cd5=United States&cd6=English&cd7=Debian GNU/Linux 12 (bookworm) "
                  "64bit&cd8=1");
    EXPECT_FALSE(ua[0]["headers"].isMember("User-Agent")) << "the hits set no agent of their own";
    EXPECT_EQ(reporter.events(), (std::vector<ReportedEvent>{{"CrashRate", "Close", "", true}}));
}

TEST(EventReporter, UaResultFollowsTheCollectorsAnswer) {
    ReportEnv env;
    EventReporter reporter(testSettings());
    ASSERT_TRUE(reporter.waitUntilIdle(10000));
    struct Case {
        const char* answer;
        int result;
    } cases[] = {
        {R"({"status": 200})", 0},
        {R"({"status": 500})", -1},
        {R"({"status": 200, "body": "<html>ok</html>"})", -3},
        {R"({"status": 200, "body": ""})", -1},
    };
    for (const auto& c : cases) {
        env.sim().setFixture(std::string(R"({"analytics": {"ua": )") + c.answer + "}}");
        EXPECT_EQ(reporter.report("Codes", "Case", c.answer, true), c.result) << c.answer;
    }

    // An empty action is no UA hit, but the GA4 hit goes with empty action and name.
    const size_t ga4Before = env.hits("ga4").size();
    const size_t uaBefore = env.hits("ua").size();
    EXPECT_EQ(reporter.report("Codes", "", "L", true), -2);
    const auto ga4 = env.hits("ga4");
    ASSERT_EQ(ga4.size(), ga4Before + 1);
    EXPECT_NE(ga4.back()["query"].asString().find("&ep.kv_action=&ep.kv_label=L&en=&ep.cd1="),
              std::string::npos);
    EXPECT_EQ(env.hits("ua").size(), uaBefore);

    // A collector that is not there costs no time.
    env.redirectTo(1);
    const auto start = Clock::now();
    EXPECT_EQ(reporter.report("Codes", "Closed", "", true), -1);
    EXPECT_LT(msSince(start), 2000);
}

TEST(EventReporter, LabelsAreRawInUaAndPercentEncodedInGa4) {
    ReportEnv env;
    EventReporter reporter(testSettings());
    struct Case {
        const char* label;
        const char* ga4;
    } cases[] = {
        {"1.5 MB/s", "&ep.kv_label=1.5%20MB%2fs&"},
        {"a:b%c", "&ep.kv_label=a%3ab%25c&"},
        {"[11~20s]", "&ep.kv_label=%5b11~20s%5d&"},
    };
    for (const auto& c : cases) {
        ASSERT_EQ(reporter.report("Encoding", c.label, c.label, true), 0) << c.label;
        const auto ga4 = env.hits("ga4", c.label);
        const auto ua = env.hits("ua", c.label);
        ASSERT_EQ(ga4.size(), 1u) << c.label;
        ASSERT_EQ(ua.size(), 1u) << c.label;
        EXPECT_NE(ga4[0]["query"].asString().find(c.ga4), std::string::npos)
            << ga4[0]["query"].asString();
        EXPECT_NE(uaBody(ua[0]).find(std::string("&el=") + c.label + "&an=Downloader"),
                  std::string::npos)
            << uaBody(ua[0]);
    }

    // Too long for the GA4 buffer: the GA4 hit is refused, the UA hit still goes.
    ASSERT_EQ(reporter.report("Encoding", "Long", std::string(5000, 'x'), true), 0);
    EXPECT_TRUE(env.hits("ga4", "Long").empty());
    EXPECT_EQ(env.hits("ua", "Long").size(), 1u);
}

TEST(EventReporter, DimensionsFollowTheProductContextAtSendTime) {
    ReportEnv env;
    auto settings = testSettings();
    settings.idlePollMs = 2000;
    EventReporter reporter(settings);
    ASSERT_TRUE(reporter.waitUntilIdle(10000));

    // Queued before the context is set, sent after it: the new context goes.
    reporter.report("Context", "QueuedEarly", "", false);
    reporter.setProductContext(FuntionImpl::ReportContext(
        2, "Kestrova Editor", "https://files.kestrova.example/Setup_BING_1.exe", false));
    ASSERT_TRUE(reporter.waitUntilIdle(10000));
    auto ua = env.hits("ua", "QueuedEarly");
    ASSERT_EQ(ua.size(), 1u);
    EXPECT_NE(
        uaBody(ua[0]).find("&cd2=PPC&cd3=Bing&cd4=Kestrova Editor&cd5=United States&cd6=English&"),
        std::string::npos)
        << uaBody(ua[0]);

    reporter.setProductContext(FuntionImpl::ReportContext(277, "Kestrova Toolkit", "", true));
    ASSERT_EQ(reporter.report("Context", "Toolkit", "", true), 0);
    EXPECT_NE(uaBody(env.hits("ua", "Toolkit")[0]).find("&cd8=0"), std::string::npos);
    EXPECT_NE(env.hits("ga4", "Toolkit")[0]["query"].asString().find("&ep.cd4=Kestrova%20Toolkit&"),
              std::string::npos);
    EXPECT_NE(env.hits("ga4", "Toolkit")[0]["query"].asString().find("&ep.cd8=0"),
              std::string::npos);

    auto noLocale = testSettings();
    noLocale.localeText = "English";
    EventReporter plain(noLocale);
    ASSERT_EQ(plain.report("Context", "NoLocale", "", true), 0);
    EXPECT_NE(uaBody(env.hits("ua", "NoLocale")[0]).find("&cd5=Unknown&cd6=Unknown&"),
              std::string::npos);
}

TEST(EventReporter, QueuedEventsGoInOrderFromTheSendThread) {
    ReportEnv env;
    EventReporter reporter(testSettings());
    const auto start = Clock::now();
    for (const char* action : {"First", "Second", "Third"})
        EXPECT_EQ(reporter.report("Queue", action, "q"), 0);
    EXPECT_LT(msSince(start), 250) << "queueing waits for no network";
    ASSERT_TRUE(reporter.waitUntilIdle(15000));

    std::vector<std::string> order;
    for (const auto& r : env.sim().requests()) {
        if (r["host"].asString() != "collect.analytics.example")
            continue;
        const std::string action = kvtest::hitAction(r);
        if (action == "First" || action == "Second" || action == "Third")
            order.push_back((r["path"].asString() == "/g/collect" ? "ga4:" : "ua:") + action);
    }
    EXPECT_EQ(order, (std::vector<std::string>{"ga4:First", "ua:First", "ga4:Second", "ua:Second",
                                               "ga4:Third", "ua:Third"}));

    // The reporter's own first event follows the identity step, and is no caller's event.
    const auto launch = env.hits("ua", "launchDownloader001");
    ASSERT_EQ(launch.size(), 1u);
    EXPECT_NE(uaBody(launch[0]).find("&ec=DownloaderInfo00&ea=launchDownloader001&el=&"),
              std::string::npos);
    const auto identity = env.requests("softwarelog.txt");
    ASSERT_FALSE(identity.empty());
    EXPECT_GT(launch[0]["seq"].asUInt64(), identity[0]["seq"].asUInt64());
    EXPECT_EQ(reporter.events().size(), 3u);
}

KV_TEST_CHILD(hold_user_log_lock) {
    auto lock = platform::NamedEvent::create("UserLogMutex", false, true);
    if (!lock || lock->wait(2000) != platform::WaitResult::Signaled)
        return 3;
    kvtest::writeFile(args.at(0), "held");
    std::this_thread::sleep_for(std::chrono::milliseconds(std::stoi(args.at(1))));
    lock->set();
    return 0;
}

TEST(EventReporter, AnEventIsDroppedWhenTheLockIsHeldTooLong) {
    ReportEnv env;
    EventReporter reporter(testSettings());
    ASSERT_TRUE(reporter.waitUntilIdle(10000));

    // Held in this process.
    auto holder = platform::NamedEvent::create("UserLogMutex", false, true);
    ASSERT_TRUE(holder);
    ASSERT_EQ(holder->wait(2000), platform::WaitResult::Signaled);
    auto start = Clock::now();
    EXPECT_EQ(reporter.report("Lock", "DroppedHere", ""), 0);
    const long long waited = msSince(start);
    EXPECT_GE(waited, 190);
    EXPECT_LT(waited, 1000);
    holder->set();

    // Held by another process that opened the same name.
    const auto marker = env.dir() / "held";
    const pid_t child = kvtest::spawnChild("hold_user_log_lock", {marker.string(), "800"});
    ASSERT_TRUE(kvtest::waitFor([&] { return std::filesystem::exists(marker); }));
    start = Clock::now();
    EXPECT_EQ(reporter.report("Lock", "DroppedThere", ""), 0);
    EXPECT_LT(msSince(start), 1000);
    EXPECT_EQ(kvtest::waitChild(child, 10000), 0);

    EXPECT_EQ(reporter.report("Lock", "Kept", ""), 0);
    ASSERT_TRUE(reporter.waitUntilIdle(10000));
    EXPECT_EQ(env.hits("ua", "Kept").size(), 1u);
    EXPECT_TRUE(env.hits("ua", "DroppedHere").empty());
    EXPECT_TRUE(env.hits("ua", "DroppedThere").empty());
    EXPECT_EQ(reporter.events().size(), 3u) << "dropped events are still on record";
}

TEST(EventReporter, ShutdownSendsNothingStillQueuedButTheAtOnceEvent) {
    ReportEnv env;
    auto settings = testSettings();
    settings.idlePollMs = 60000;  // the send thread sleeps through the queued events
    EventReporter reporter(settings);
    ASSERT_TRUE(reporter.waitUntilIdle(10000));
    for (int i = 0; i < 3; ++i)
        reporter.report("Exit", "StillQueued", std::to_string(i));
    EXPECT_EQ(reporter.report("CrashRate", "Close", "", true), 0);
    const auto start = Clock::now();
    reporter.shutdown();
    EXPECT_LT(msSince(start), 1000) << "the idle send thread ends at once";
    EXPECT_EQ(env.hits("ua", "Close").size(), 1u);
    EXPECT_TRUE(env.hits("ua", "StillQueued").empty());
    EXPECT_TRUE(env.hits("ga4", "StillQueued").empty());
    EXPECT_EQ(reporter.report("Exit", "After", "", true), -1) << "nothing is sent after shutdown";
    EXPECT_EQ(reporter.report("Exit", "After", ""), 0);
}

TEST(EventReporter, AHangingCollectorCostsTheCallersNothing) {
    ReportEnv env;
    kvtest::SilentListener silent;
    env.redirectTo(silent.port());
    auto settings = testSettings();
    settings.shutdownGraceMs = 300;
    const auto start = Clock::now();
    auto reporter = std::make_unique<EventReporter>(settings);
    long long slowest = 0;
    for (int i = 0; i < 20; ++i) {
        const auto one = Clock::now();
        EXPECT_EQ(reporter->report("Dead", "Queued", std::to_string(i)), 0);
        slowest = std::max(slowest, msSince(one));
    }
    EXPECT_LT(slowest, 250);
    EXPECT_LT(msSince(start), 1000);
    // The send thread is stuck in a request the collector never answers; shutdown cuts it.
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    const auto stop = Clock::now();
    reporter.reset();
    EXPECT_LT(msSince(stop), 3000);
}

// The closing event of a user's close: a collector that takes connections and never answers
// must not hold the program for the library's full request time-outs.
TEST(EventReporter, AnAtOnceEventToASilentCollectorEndsWithinItsLimit) {
    ReportEnv env;
    kvtest::SilentListener silent;
    env.redirectTo(silent.port());
    auto settings = testSettings();
    settings.shutdownGraceMs = 300;
    settings.sendNowLimitMs = 1000;
    EventReporter reporter(settings);
    const auto start = Clock::now();
    EXPECT_EQ(reporter.report("CrashRate", "Close", "", true), -1);
    // Two requests of up to 20 s each without the limit.
    EXPECT_LT(msSince(start), 10000);
    const auto again = Clock::now();
    EXPECT_EQ(reporter.report("CrashRate", "Close", "", true), -1);
    EXPECT_LT(msSince(again), 10000) << "a later at-once event does not wait either";
}

TEST(EventReporter, AnAtOnceEventDoesNotWaitForASlowIdentityStep) {
    ReportEnv env(R"({"userlog": {"softwarelog": {"delay_ms": 4000}}})");
    auto settings = testSettings();
    settings.shutdownGraceMs = 300;
    EventReporter reporter(settings);
    ASSERT_TRUE(kvtest::waitFor([&] { return !env.requests("softwarelog.txt").empty(); }));
    const auto start = Clock::now();
    EXPECT_EQ(reporter.report("CrashRate", "Close", "", true), 0);
    EXPECT_LT(msSince(start), 1500);
    const auto stop = Clock::now();
    reporter.shutdown();
    EXPECT_LT(msSince(stop), 3000) << "the identity step is cut short too";
}

TEST(EventReporter, RecordingOnlyWhenNothingMaySend) {
    ReportEnv env;
    EventReporter reporter(EventReporter::recordOnly());
    EXPECT_EQ(reporter.report("Only", "Kept", "a"), 0);
    EXPECT_EQ(reporter.report("Only", "Now", "b", true), -1);
    EXPECT_TRUE(reporter.waitUntilIdle(0));
    EXPECT_EQ(reporter.events(), (std::vector<ReportedEvent>{{"Only", "Kept", "a", false},
                                                             {"Only", "Now", "b", true}}));
    reporter.clearEvents();
    EXPECT_TRUE(reporter.events().empty());
    for (size_t i = 0; i < EventReporter::kMaxRecordedEvents + 5; ++i)
        reporter.report("Many", std::to_string(i), "");
    const auto events = reporter.events();
    ASSERT_EQ(events.size(), EventReporter::kMaxRecordedEvents);
    EXPECT_EQ(events.front().action, "5") << "the oldest go first";
    EXPECT_TRUE(env.sim().requests().empty());
}

// Reporters made, used from several threads and shut down at random moments, again and again:
// nothing hangs and nothing is touched after it is gone (the sanitizer builds watch).
TEST(EventReporter, ShutdownRacesWithReportersOnOtherThreads) {
    ReportEnv env;
    auto settings = testSettings();
    settings.idlePollMs = 20;
    settings.shutdownGraceMs = 100;
    const auto start = Clock::now();
    for (int round = 0; round < 8; ++round) {
        EventReporter reporter(settings);
        std::atomic<bool> go{false};
        std::vector<std::thread> threads;
        std::vector<int> atOnce(2, 99);
        for (int t = 0; t < 3; ++t)
            threads.emplace_back([&, t] {
                while (!go)
                    std::this_thread::yield();
                for (int i = 0; i < 5; ++i)
                    reporter.report("Race", "T" + std::to_string(t), std::to_string(i));
            });
        for (int t = 0; t < 2; ++t)
            threads.emplace_back([&, t] {
                while (!go)
                    std::this_thread::yield();
                atOnce[t] = reporter.report("Race", "Now", std::to_string(t), true);
            });
        go = true;
        std::this_thread::sleep_for(std::chrono::milliseconds(round * 7 % 40));
        reporter.shutdown();
        for (auto& thread : threads)
            thread.join();
        for (int result : atOnce)
            EXPECT_TRUE(result == 0 || result == -1) << result;
    }
    EXPECT_LT(msSince(start), 30000);
}

KV_TEST_CHILD(process_reporter) {
    auto settings = testSettings();
    settings.idlePollMs = 60000;
    if (!EventReporter::setUpInstance(settings))
        return 10;
    EventReporter& reporter = EventReporter::instance();
    if (EventReporter::setUpInstance(settings))
        return 11;
    if (&reporter != &EventReporter::instance())
        return 12;
    if (!reporter.waitUntilIdle(10000))
        return 13;
    reporter.report("Exit", "LeftInTheQueue", "");
    const int ua = reporter.report("CrashRate", "Close", "", true);
    return ua == 0 ? 0 : 20 - ua;  // the process then exits with the event still queued
}

TEST(EventReporter, TheProcessReporterShutsDownAtExit) {
    ReportEnv env;
    const auto start = Clock::now();
    const pid_t child = kvtest::spawnChild("process_reporter");
    EXPECT_EQ(kvtest::waitChild(child, 30000), 0);
    EXPECT_LT(msSince(start), 10000);
    EXPECT_EQ(env.hits("ua", "Close").size(), 1u);
    EXPECT_EQ(env.hits("ua", "launchDownloader001").size(), 1u);
    EXPECT_TRUE(env.hits("ua", "LeftInTheQueue").empty());
}

}  // namespace

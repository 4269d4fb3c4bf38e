// The message box and the launch-hint window built from the shipped skin package on the
// headless host: what each kind shows in several languages, what its buttons do to the owner
// and to the process, and how long the launch hint stays.

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <set>
#include <thread>

#include "../report/report_env.h"
#include "Common/alient_wnd.h"
#include "Common/install_window.h"
#include "Common/message_box_wnd.h"
#include "LanguageTable.h"
#include "report/EventReporter.h"
#include "test_support.h"
#include "ui/HeadlessHost.h"
#include "ui/Label.h"
#include "ui/MarkupLoader.h"
#include "ui/TextLayout.h"
#include "zip_builder.h"

namespace {

using ui::headless::HeadlessBackend;
using ui::headless::HeadlessWindowHost;
using Clock = std::chrono::steady_clock;

constexpr int kEnglish = 0, kJapanese = 1, kArabic = 8;

std::shared_ptr<ui::SkinPackage> ShippedSkin() {
    static std::shared_ptr<ui::SkinPackage> skin = [] {
        std::ifstream in(std::string(KV_BIN_DIR) + "/../skin.zip", std::ios::binary);
        std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), {});
        return ui::SkinPackage::Open(std::move(bytes));
    }();
    return skin;
}

// The owner a box is opened over: a plain window that deletes the downloaded setup when asked,
// as the main window does.
class OwnerWindow : public ui::WindowBase {
public:
    std::string GetSkinFile() const override { return "MessageBox.xml"; }
    ui::LResult HandleMessage(unsigned message, ui::WParam wParam, ui::LParam lParam) override {
        if (message == static_cast<unsigned>(kMsgDeleteDownloadedSetup)) {
            ++deleteRequests;
            DeleteDownloadedSetup(setupPath);
        }
        if (message == ui::kWmSysCommand && wParam == ui::kScRestore)
            ++restores;
        return WindowBase::HandleMessage(message, wParam, lParam);
    }
    std::string setupPath;
    int deleteRequests = 0;
    int restores = 0;
};

// What a box showed when it came up.
struct Shown {
    std::string icon, describe, question, yes, no;
    bool noVisible = true;
    std::string title;
    ui::Rect bounds;
};

class MessageWindows : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_NE(ShippedSkin(), nullptr) << "the skin package is built with the installer";
        ui::ResetQuit();
        backend = HeadlessBackend::Install();
        backend->SetLoopTimeout(20000);
        ui::SkinPackage::SetDefault(ShippedSkin());
        ASSERT_TRUE(owner.Create(nullptr, "owner", {100, 100, 0, 0}));
        owner.ShowWindow();
    }
    void TearDown() override { ui::SkinPackage::SetDefault(nullptr); }

    // Opens kind `kind` and answers it by clicking `button`; what it showed lands in `shown`.
    int Answer(int kind, int language, const std::string& button, const ProcessEnd& end = {}) {
        backend->SetShowHook([&, button](HeadlessWindowHost& host) {
            auto* box = dynamic_cast<MessageBoxWnd*>(&host.Window());
            if (!box)
                return;
            auto text = [&](const char* name) { return box->FindControl(name)->GetText(); };
            shown.icon = box->FindControl("iconimage")->GetBkImage();
            shown.describe = text("msg_describe");
            shown.question = text("msg_question");
            shown.yes = text("btn_yes");
            shown.no = text("btn_no");
            shown.noVisible = box->FindControl("btn_no")->IsVisible();
            shown.title = host.GetTitle();
            shown.bounds = box->GetWindowRect();
            host.ClickControl(button);
        });
        return ShowMessageBox(&owner, kind, language, end);
    }

    HeadlessBackend* backend = nullptr;
    OwnerWindow owner;
    Shown shown;
};

// The "message_page" texts of a language, read straight from the package.
std::map<std::string, std::string> PageOf(int language) {
    ui::MarkupLoader loader(ShippedSkin(), "skin\\");
    auto doc = loader.Load(std::string("language\\") + LanguageRowFor(language).fileName);
    std::map<std::string, std::string> page;
    for (auto& [name, text] : doc.ChildTexts("message_page"))
        page[name] = text;
    return page;
}

struct KindCase {
    int kind;
    const char* icon;
    const char* describe;
    const char* question;  // "" when the kind sets none
    const char* yes;
    const char* no;  // nullptr: hidden
};

const KindCase kOpenedKinds[] = {
    {2, "skin\\message_help.png", "CancelDesText", "CancelQueText", "YesText", "NoText"},
    {3, "skin\\message_help.png", "AppExistDesText", "AppExistQueText", "OkButtonText", nullptr},
    {4, "skin\\message_exclamation.png", "PathErrorDesText", "", "OkButtonText", nullptr},
    {6, "skin\\message_exclamation.png", "InstallRunTimeOutDesText", "InstallRunTimeOutQueText",
     "ConfirmText", nullptr},
    {7, "skin\\message_exclamation.png", "MD5FailDesText", "MD5FailQueText", "ConfirmText",
     nullptr},
    {8, "skin\\message_exclamation.png", "UrlFailDexText", "UrlFailQueText", "ConfirmText",
     nullptr},
    {9, "skin\\message_exclamation.png", "InternetFailDesText", "InternetFailQueText",
     "ConfirmText", nullptr},
    {10, "skin\\message_exclamation.png", "InternetTimeoutDesText", "InternetTimeoutQueText",
     "ConfirmText", nullptr},
    {11, "skin\\message_exclamation.png", "NoEnoughSpaceDesText", "", "OkButtonText", nullptr},
};

TEST_F(MessageWindows, EveryKindTheWorkflowOpensShowsItsIconTextsAndButtons) {
    for (int language : {kEnglish, kArabic, kJapanese}) {
        auto page = PageOf(language);
        ASSERT_FALSE(page.empty()) << language;
        for (const KindCase& c : kOpenedKinds) {
            SCOPED_TRACE("kind " + std::to_string(c.kind) + " language " +
                         std::to_string(language));
            // "btn_no" of kind 2 answers without ending anything.
            const std::string button = c.no ? "btn_no" : "btn_yes";
            EXPECT_EQ(Answer(c.kind, language, button), c.no ? 2 : 1);
            EXPECT_EQ(shown.icon, c.icon);
            EXPECT_EQ(shown.describe, page[c.describe]);
            EXPECT_FALSE(shown.describe.empty());
            EXPECT_EQ(shown.question, *c.question ? page[c.question] : "");
            EXPECT_EQ(shown.yes, page[c.yes]);
            EXPECT_FALSE(shown.yes.empty());
            EXPECT_EQ(shown.noVisible, c.no != nullptr);
            if (c.no) {
                EXPECT_EQ(shown.no, page[c.no]);
            }
            EXPECT_EQ(shown.title, "MSGUIDemo");
        }
    }
    // The owner came back to the front for each box, and the box sat in the middle of the screen.
    EXPECT_EQ(owner.restores, 27);
    EXPECT_EQ(shown.bounds, ui::Rect::FromSize((1920 - 452) / 2, (1080 - 190) / 2, 452, 190));
}

TEST_F(MessageWindows, TextsFitTheBoxInEveryLanguage) {
    for (int language = 0; language < kLanguageCount; ++language) {
        for (const KindCase& c : kOpenedKinds) {
            SCOPED_TRACE("kind " + std::to_string(c.kind) + " language " +
                         std::to_string(language));
            backend->SetShowHook([&](HeadlessWindowHost& host) {
                auto frame = host.Render();
                // KV_MESSAGE_FRAMES: a folder to keep every box as a picture, for a look.
                if (const char* keep = std::getenv("KV_MESSAGE_FRAMES"))
                    frame.image->SavePng(std::string(keep) + "/box-" +
                                         LanguageRowFor(language).name + "-" +
                                         std::to_string(c.kind) + ".png");
                for (const char* name : {"msg_describe", "msg_question", "btn_yes", "btn_no"}) {
                    auto* label = host.Window().FindControl<ui::Label>(name);
                    ASSERT_NE(label, nullptr);
                    if (!label->IsVisible() || label->GetText().empty())
                        continue;
                    ui::TextLayout* layout = label->GetTextLayout();
                    ASSERT_NE(layout, nullptr) << name;
                    const ui::Rect box = label->GetPos();
                    EXPECT_LE(layout->TextSize().cy, box.Height())
                        << name << ": " << label->GetText();
                    EXPECT_LE(layout->TextSize().cx, box.Width())
                        << name << ": " << label->GetText();
                    EXPECT_EQ(layout->UnknownGlyphCount(), 0) << name;
                }
                host.ClickControl("closebtn");
            });
            ShowMessageBox(&owner, c.kind, language);
        }
    }
}

TEST_F(MessageWindows, VerificationFailureRemovesTheSetupFileWithEitherButton) {
    kvtest::TempDir dir;
    for (const char* button : {"btn_yes", "closebtn"}) {
        SCOPED_TRACE(button);
        owner.setupPath = (dir.path() / "KestrovaEditor_2.4.1.0.exe").string();
        kvtest::writeFile(owner.setupPath, "MZ");
        kvtest::writeFile(owner.setupPath + ".xml", "<tasks/>");
        Answer(kMsgVerifyFailed, kEnglish, button);
        backend->Pump();
        EXPECT_FALSE(std::filesystem::exists(owner.setupPath));
        EXPECT_FALSE(std::filesystem::exists(owner.setupPath + ".xml"));
    }
    // A failed download keeps its file: the next run resumes it.
    kvtest::writeFile(owner.setupPath, "MZ");
    Answer(kMsgUrlFailed, kEnglish, "btn_yes");
    backend->Pump();
    EXPECT_TRUE(std::filesystem::exists(owner.setupPath));
    EXPECT_EQ(owner.deleteRequests, 2);
}

TEST_F(MessageWindows, DeletingTheSetupRemovesALinkNotItsTarget) {
    kvtest::TempDir dir;
    const auto target = dir.path() / "precious.txt";
    kvtest::writeFile(target, "keep");
    const auto setup = dir.path() / "setup.exe";
    std::filesystem::create_symlink(target, setup);
    std::filesystem::create_symlink(target, setup.string() + ".xml");
    DeleteDownloadedSetup(setup.string());
    EXPECT_FALSE(std::filesystem::is_symlink(setup));
    EXPECT_FALSE(std::filesystem::is_symlink(setup.string() + ".xml"));
    EXPECT_EQ(kvtest::readFile(target), "keep");
}

TEST_F(MessageWindows, CancelQuestionYesEndsTheProcessAfterTheCloseEventReachedTheCollector) {
    kvtest::ReportEnv env;
    EventReporter::Settings settings;
    settings.version = "1.0.0.1";
    settings.osText = "Debian GNU/Linux 12 (bookworm) 64bit";
    settings.localeText = "English_United States";
    EventReporter reporter(settings);

    std::vector<std::string> steps;
    ProcessEnd end;
    end.releaseInstanceGuard = [&] { steps.push_back("guard"); };
    end.reportClose = [&] {
        reporter.report("CrashRate", "Close", "", true);
        steps.push_back("report");
    };
    end.exit = [&](int code) {
        // The hits are out before the process goes.
        steps.push_back("exit " + std::to_string(code) + " ua " +
                        std::to_string(env.hits("ua", "Close").size()) + " owner " +
                        (owner.IsWindowVisible() ? "shown" : "hidden"));
    };
    Answer(kMsgCancelQuestion, kEnglish, "btn_yes", end);
    EXPECT_EQ(steps, (std::vector<std::string>{"guard", "report", "exit 0 ua 1 owner hidden"}));
    EXPECT_EQ(env.hits("ga4", "Close").size(), 1u);

    // "No" and the close button leave everything running.
    steps.clear();
    owner.ShowWindow();
    EXPECT_EQ(Answer(kMsgCancelQuestion, kEnglish, "btn_no", end), 2);
    EXPECT_EQ(Answer(kMsgCancelQuestion, kEnglish, "closebtn", end), 2);
    EXPECT_TRUE(steps.empty());
    EXPECT_TRUE(owner.IsWindowVisible());
}

TEST_F(MessageWindows, ALanguageWithoutItsFileFallsBackToEnglish) {
    std::map<std::string, std::string> files;
    for (const char* name : {"MessageBox.xml", "language/language_english.xml"}) {
        std::vector<uint8_t> entry;
        ASSERT_TRUE(ShippedSkin()->Read(name, entry)) << name;
        files[name] = std::string(entry.begin(), entry.end());
    }
    ui::SkinPackage::SetDefault(ui::SkinPackage::Open(kvtest::makeZip(files)));
    Answer(kMsgInternetFailed, kArabic, "btn_yes");
    EXPECT_EQ(shown.describe, PageOf(kEnglish)["InternetFailDesText"]);
    EXPECT_EQ(shown.yes, "OK");
    EXPECT_FALSE(shown.noVisible);

    // With no language file at all the box is blank but its buttons still answer.
    files.erase("language/language_english.xml");
    ui::SkinPackage::SetDefault(ui::SkinPackage::Open(kvtest::makeZip(files)));
    EXPECT_EQ(Answer(kMsgInternetFailed, kArabic, "btn_yes"), 1);
    EXPECT_EQ(shown.describe, "");
}

TEST_F(MessageWindows, NetFrameworkBoxKeepsItsMarkupTexts) {
    EXPECT_EQ(Answer(5, kArabic, "btn_yes"), 1);
    EXPECT_EQ(shown.yes, "OK");
    EXPECT_NE(shown.describe.find(".NET Framework 4.8"), std::string::npos);
    EXPECT_NE(shown.question.find("{a https://"), std::string::npos);
    EXPECT_FALSE(shown.noVisible);
}

TEST_F(MessageWindows, AWorkerThreadWaitsForTheAnswerGivenOnTheUiThread) {
    std::atomic<int> answer{0};
    std::atomic<bool> shownOnUiThread{false};
    backend->SetShowHook([&](HeadlessWindowHost& host) {
        if (!dynamic_cast<MessageBoxWnd*>(&host.Window()))
            return;
        shownOnUiThread = ui::IsUiThread();
        host.ClickControl("btn_yes");
    });
    std::thread worker([&] { answer = ShowMessageBox(&owner, kMsgInternetTimeout, kEnglish); });
    EXPECT_TRUE(backend->RunUntilFor([&] { return answer != 0; }, 20000));
    worker.join();
    EXPECT_EQ(answer, 1);
    EXPECT_TRUE(shownOnUiThread);
}

// ---- launch hint ----------------------------------------------------------------------------

TEST(CutVersion, KeepsThreeParts) {
    EXPECT_EQ(CutVersion("1.2.3.4"), "1.2.3");
    EXPECT_EQ(CutVersion("2.4.1.0.7"), "2.4.1");
    EXPECT_EQ(CutVersion("2.0"), "2.0");
    EXPECT_EQ(CutVersion("1.2.3"), "1.2.3");
    EXPECT_EQ(CutVersion(""), "");
    EXPECT_EQ(CutVersion("..."), "..");
}

class LaunchHint : public MessageWindows {
protected:
    struct Run {
        int starts = 0;
        std::string startedTarget;
        int startedMode = -1;
        long long reportMs = -1, exitMs = -1;
        int exitCode = -1;
        unsigned framesAtExit = 0;
    };

    Run Launch(int seconds, int startResult) {
        Run run;
        const auto begin = Clock::now();
        auto ms = [begin] {
            return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - begin)
                .count();
        };
        ProcessEnd end;
        end.reportClose = [&] { run.reportMs = ms(); };
        end.exit = [&](int code) {
            run.exitMs = ms();
            run.exitCode = code;
            run.framesAtExit = CAlientWnd::FrameCounter();
        };
        CAlientWnd::Launch launch{
            1,       "\"/opt/Kestrova/kestrova-editor\"", "Kestrova Editor", "2.4.1.0", seconds,
            kEnglish};
        ShowLaunchHint(launch, end, [&](std::string_view target, int mode) {
            ++run.starts;
            run.startedTarget = target;
            run.startedMode = mode;
            return startResult;
        });
        return run;
    }
};

TEST_F(LaunchHint, StaysForItsSecondsWhileTheSpinnerTurns) {
    backend->SetShowHook([&](HeadlessWindowHost& host) {
        auto* hint = dynamic_cast<CAlientWnd*>(&host.Window());
        if (!hint)
            return;
        EXPECT_EQ(hint->Version(), "2.4.1");
        EXPECT_EQ(hint->GetWindowRect().Width(), 320);
        EXPECT_EQ(host.GetTitle(), "MSGUIDemo");
    });
    const unsigned before = CAlientWnd::FrameCounter();
    const Run run = Launch(3, 0);
    EXPECT_EQ(run.starts, 1);
    EXPECT_EQ(run.startedTarget, "\"/opt/Kestrova/kestrova-editor\"");
    EXPECT_EQ(run.startedMode, 1);
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_GE(run.reportMs, 2900);
    EXPECT_LE(run.reportMs, run.exitMs);
    // 60 frames in 3 s; a loaded machine fires late, never early.
    EXPECT_GE(run.framesAtExit - before, 20u);
    EXPECT_LE(run.framesAtExit - before, 62u);
    EXPECT_TRUE(backend->SystemMessages().empty());
}

TEST_F(LaunchHint, AProductThatCannotStartShowsTheHintAndEndsWithoutWaiting) {
    const Run run = Launch(30, -1);
    ASSERT_EQ(backend->SystemMessages().size(), 1u);
    EXPECT_EQ(backend->SystemMessages()[0], PageOf(kEnglish)["ClickShortcutToLaunchText"]);
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_GE(run.reportMs, 0);
    EXPECT_LT(run.exitMs, 15000);
}

TEST_F(LaunchHint, FramesCycleThroughTheTwentyOnePictures) {
    ProcessEnd end;
    end.reportClose = [] {};
    CAlientWnd hint({0, "\"/x\"", "t", "1", 600, kEnglish}, end,
                    [](std::string_view, int) { return 0; });
    ASSERT_TRUE(hint.Create(nullptr, "MSGUIDemo"));
    auto* host = backend->HostOf(hint);
    std::set<std::string> seen;
    for (int i = 0; i < 42; ++i) {
        const unsigned n = CAlientWnd::FrameCounter();
        ASSERT_TRUE(host->TickTimer(CAlientWnd::kFrameTimer));
        backend->Pump();
        // The real 50 ms timer may have fired as well; the picture follows the counter.
        const unsigned m = CAlientWnd::FrameCounter();
        ASSERT_GT(m, n);
        char want[32];
        std::snprintf(want, sizeof want, "skin/gif/bg%.2u.png", (m - 1) % 21);
        EXPECT_EQ(hint.FindControl("foreImage")->GetBkImage(), want);
        EXPECT_TRUE(ShippedSkin()->Resolve(want, "skin\\")) << want;
        seen.insert(want);
    }
    EXPECT_GE(seen.size(), 15u);
}

}  // namespace

#include "app/uninstall.h"

#include <functional>
#include <string>
#include <vector>

#include "logic/verification_fixture.h"
#include "removal/removal.h"

namespace uk {
namespace {

using Strings = std::vector<std::string>;

const std::string kLsregister(kLaunchServicesTool);
const std::string kHomeApplications = "/Users/ada/Applications";
const std::string kPrefix =
    "Review the installed copies below. Your .kelx archives stay where they are.\n\n";

class Uninstall : public FakeWorldTest {
 protected:
  void SetUp() override {
    FakeWorldTest::SetUp();
    world().addDirectory("/Users");
    world().addDirectory("/Users/ada");
    world().tools[kLsregister] = [](const fake::ToolRun&) { return 0; };
  }

  // Answers the confirmation with `answer` and every later alert with OK.
  void answerConfirmation(long answer) {
    world().answerAlert = [answer](const platform::Alert& alert) {
      return alert.messageText() == "Move Kellix to the Trash?" ? answer
                                                                : platform::kAlertFirstButtonReturn;
    };
  }

  static Strings titles(const fake::ShownAlert& alert) {
    Strings out;
    for (const platform::AlertButton& button : alert.buttons) out.push_back(button.title());
    return out;
  }
};

TEST_F(Uninstall, NothingFoundShowsTheNotFoundAlertOnly) {
  world().addDirectory("/Applications");
  world().addDirectory(kHomeApplications);

  uninstall();

  ASSERT_EQ(world().alerts.size(), 1u);
  const fake::ShownAlert& alert = world().alerts[0];
  // Nothing is set but texts and the one button: the platform's defaults
  // stand (a Mac gives the first button Return only while none is set).
  EXPECT_EQ(alert.style, std::nullopt);
  EXPECT_EQ(alert.messageText, "No verified Kellix installation found");
  EXPECT_EQ(alert.informativeText,
            "The uninstaller looked for Kellix.app in Applications and in your home Applications "
            "folder.");
  EXPECT_EQ(titles(alert), Strings{"OK"});
  EXPECT_EQ(alert.buttons[0].keyEquivalent(), std::nullopt);
  EXPECT_EQ(alert.buttons[0].hasDestructiveAction(), std::nullopt);
  EXPECT_TRUE(world().toolRuns.empty());
}

TEST_F(Uninstall, BothFoldersAreBuiltBeforeEitherIsSearched) {
  uninstall();
  const Strings& events = world().events;
  ASSERT_GE(events.size(), 3u);
  EXPECT_EQ(Strings(events.begin(), events.begin() + 3),
            (Strings{"home", "probe /Applications", "probe " + kHomeApplications}));
}

TEST_F(Uninstall, DiscoveryListsVerifiedCopiesInFolderOrder) {
  struct Case {
    const char* name;
    std::function<void(fake::World&)> layOut;
    std::string listed;  // the paths in the confirmation
  } cases[] = {
      {"only in the home folder",
       [](fake::World& w) { w.addBundle(kHomeApplications, fake::genuineInfoPlist()); },
       kHomeApplications + "/Kellix.app"},
      {"only in /Applications",
       [](fake::World& w) { w.addBundle("/Applications", fake::genuineInfoPlist()); },
       "/Applications/Kellix.app"},
      {"in both",
       [](fake::World& w) {
         w.addBundle(kHomeApplications, fake::genuineInfoPlist());
         w.addBundle("/Applications", fake::genuineInfoPlist());
       },
       "/Applications/Kellix.app\n" + kHomeApplications + "/Kellix.app"},
      {"a spoilt copy in /Applications beside a genuine one at home",
       [](fake::World& w) {
         w.addBundle("/Applications",
                     fake::infoPlist({{"CFBundleIdentifier", "test.kellix.Archiver"},
                                      {"CFBundleExecutable", "Kellix"}}));
         w.addBundle(kHomeApplications, fake::genuineInfoPlist());
       },
       kHomeApplications + "/Kellix.app"},
  };
  for (const Case& c : cases) {
    SetUp();
    c.layOut(world());
    answerConfirmation(platform::kAlertFirstButtonReturn);

    uninstall();

    ASSERT_EQ(world().alerts.size(), 1u) << c.name;
    EXPECT_EQ(world().alerts[0].informativeText, kPrefix + c.listed) << c.name;
  }
}

TEST_F(Uninstall, ConfirmationAlertOffersCancelOnReturnAndADestructiveMove) {
  using platform::FileURL;
  const Installation one{FileURL::fileURLWithPath("/Applications/Kellix.app", true), 1, 2};
  const Installation two{FileURL::fileURLWithPath("/Users/ada/My Apps/Kellix.app", true), 3, 4};
  struct Case {
    std::vector<Installation> list;
    std::string informative;
  } cases[] = {
      {{one}, kPrefix + "/Applications/Kellix.app"},
      {{one, two}, kPrefix + "/Applications/Kellix.app\n/Users/ada/My Apps/Kellix.app"},
      {{two, one}, kPrefix + "/Users/ada/My Apps/Kellix.app\n/Applications/Kellix.app"},
  };
  for (const Case& c : cases) {
    platform::Alert alert = confirm(c.list);
    EXPECT_EQ(alert.alertStyle(), platform::AlertStyle::warning);  // set, not a default
    EXPECT_EQ(alert.messageText(), "Move Kellix to the Trash?");
    EXPECT_EQ(alert.informativeText(), c.informative);
    ASSERT_EQ(alert.buttons().size(), 2u);
    EXPECT_EQ(alert.buttons()[0].title(), "Cancel");
    EXPECT_EQ(alert.buttons()[0].keyEquivalent(), "\r");
    EXPECT_EQ(alert.buttons()[0].hasDestructiveAction(), std::nullopt);
    EXPECT_EQ(alert.buttons()[1].title(), "Move to Trash");
    EXPECT_EQ(alert.buttons()[1].keyEquivalent(), std::nullopt);
    EXPECT_EQ(alert.buttons()[1].hasDestructiveAction(), true);
    EXPECT_EQ(alert.returnButtonIndex(), 0u);
    EXPECT_EQ(alert.escapeButtonIndex(), 0u);
  }
  // Building the alert shows nothing.
  EXPECT_TRUE(world().alerts.empty());
}

TEST_F(Uninstall, AnyAnswerButMoveToTrashChangesNothing) {
  for (long answer : {1000L, 1002L, 0L, -1000L, 1L}) {
    SetUp();
    world().addBundle("/Applications", fake::genuineInfoPlist());
    answerConfirmation(answer);

    uninstall();

    EXPECT_EQ(world().alerts.size(), 1u) << answer;
    EXPECT_TRUE(world().trashed.empty()) << answer;
    EXPECT_TRUE(world().eventsOf("trash").empty()) << answer;
    EXPECT_EQ(world().toolRuns.size(), 1u) << answer;  // the discovery's signature check only
  }
}

// The report for each combination of outcomes.
struct ReportCase {
  const char* name;
  std::function<void(fake::World&)> layOut;
  std::string title;
  std::string text;
};

const std::string kHomeCopy = kHomeApplications + "/Kellix.app";
const std::string kFinderLine =
    "\nFinder could not refresh its file association. Eject the disk image and reopen Finder.";

void runningFromHome(fake::World& w) {
  w.running["test.kellix.Archiver"] = {
      platform::RunningApplication(platform::FileURL::fileURLWithPath(kHomeCopy, true))};
}

const ReportCase kReports[] = {
    {"trashed", [](fake::World& w) { w.addBundle("/Applications", fake::genuineInfoPlist()); },
     "Kellix moved to the Trash", "Moved to Trash: /Applications/Kellix.app"},
    {"trashed without refresh",
     [](fake::World& w) {
       w.addBundle("/Applications", fake::genuineInfoPlist());
       w.tools.erase(kLsregister);
     },
     "Kellix moved to the Trash", "Moved to Trash: /Applications/Kellix.app" + kFinderLine},
    {"failed then trashed",
     [](fake::World& w) {
       w.addBundle("/Applications", fake::genuineInfoPlist());
       w.addBundle(kHomeApplications, fake::genuineInfoPlist());
       w.running["test.kellix.Archiver"] = {platform::RunningApplication(
           platform::FileURL::fileURLWithPath("/Applications/Kellix.app", true))};
     },
     "Some apps could not be removed",
     "/Applications/Kellix.app\nQuit Kellix and open the uninstaller again.\n\nMoved to Trash: " +
         kHomeCopy},
    {"trashed then failed",
     [](fake::World& w) {
       w.addBundle("/Applications", fake::genuineInfoPlist());
       w.addBundle(kHomeApplications, fake::genuineInfoPlist());
       runningFromHome(w);
     },
     "Some apps could not be removed",
     "Moved to Trash: /Applications/Kellix.app\n\n" + kHomeCopy +
         "\nQuit Kellix and open the uninstaller again."},
    {"two failures",
     [](fake::World& w) {
       w.addBundle("/Applications", fake::genuineInfoPlist());
       w.addBundle(kHomeApplications, fake::genuineInfoPlist());
       w.trashError = "No trash here.";
     },
     "Some apps could not be removed",
     "/Applications/Kellix.app\nNo trash here. You can move this app to the Trash in Finder and "
     "approve any permission request.\n\n" +
         kHomeCopy +
         "\nNo trash here. You can move this app to the Trash in Finder and approve any permission "
         "request."},
    {"one without refresh, one failed",
     [](fake::World& w) {
       w.addBundle("/Applications", fake::genuineInfoPlist());
       w.addBundle(kHomeApplications, fake::genuineInfoPlist());
       w.tools.erase(kLsregister);
       runningFromHome(w);
     },
     "Some apps could not be removed",
     "Moved to Trash: /Applications/Kellix.app" + kFinderLine + "\n\n" + kHomeCopy +
         "\nQuit Kellix and open the uninstaller again."},
};

class UninstallReport : public Uninstall, public ::testing::WithParamInterface<ReportCase> {};

TEST_P(UninstallReport, OneParagraphPerCopyUnderOneTitle) {
  GetParam().layOut(world());
  answerConfirmation(kMoveToTrashAnswer);

  uninstall();

  ASSERT_EQ(world().alerts.size(), 2u);
  const fake::ShownAlert& report = world().alerts[1];
  EXPECT_EQ(report.style, std::nullopt);  // the platform's default style stands
  EXPECT_EQ(report.messageText, GetParam().title);
  EXPECT_EQ(report.informativeText, GetParam().text);
  EXPECT_EQ(titles(report), Strings{"OK"});
  EXPECT_EQ(report.buttons[0].keyEquivalent(), std::nullopt);
  EXPECT_EQ(report.buttons[0].hasDestructiveAction(), std::nullopt);
  // Nothing is shown between the confirmation and the report.
  EXPECT_EQ(world().eventsOf("alert"), (Strings{"Move Kellix to the Trash?", GetParam().title}));
}

INSTANTIATE_TEST_SUITE_P(Outcomes, UninstallReport, ::testing::ValuesIn(kReports), caseName);

TEST_F(Uninstall, SameBundleThroughBothFoldersIsListedTwiceAndFailsTheSecondTime) {
  // A home folder of "/" makes both search folders the same directory.
  world().home = "/";
  world().addBundle("/Applications", fake::genuineInfoPlist());
  answerConfirmation(kMoveToTrashAnswer);

  uninstall();

  ASSERT_EQ(world().alerts.size(), 2u);
  EXPECT_EQ(world().alerts[0].informativeText,
            kPrefix + "/Applications/Kellix.app\n/Applications/Kellix.app");
  EXPECT_EQ(world().alerts[1].messageText, "Some apps could not be removed");
  EXPECT_EQ(world().alerts[1].informativeText,
            "Moved to Trash: /Applications/Kellix.app\n\n/Applications/Kellix.app\nThis "
            "installation changed. Reopen the uninstaller to check it again.");
  EXPECT_EQ(world().trashed, Strings{"/Applications/Kellix.app"});
}

TEST_F(Uninstall, RemovalsRunInListOrderEachAfterTheOther) {
  world().addBundle("/Applications", fake::genuineInfoPlist());
  world().addBundle(kHomeApplications, fake::genuineInfoPlist());
  answerConfirmation(kMoveToTrashAnswer);

  uninstall();

  EXPECT_EQ(world().eventsOf("trash"), (Strings{"/Applications/Kellix.app", kHomeCopy}));
  Strings unregistered;
  for (const fake::ToolRun& run : world().toolRuns) {
    if (run.path == kLsregister) unregistered.push_back(run.arguments.at(1));
  }
  EXPECT_EQ(unregistered, (Strings{"/Applications/Kellix.app", kHomeCopy}));
  EXPECT_EQ(world().events.back(), "alert Kellix moved to the Trash");
}

}  // namespace
}  // namespace uk

#include "removal/removal.h"

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

#include "logic/verification_fixture.h"
#include "verify/bundle_verification.h"

namespace uk {
namespace {

using platform::FileURL;
using platform::RunningApplication;
using Strings = std::vector<std::string>;

const std::string kLsregister(kLaunchServicesTool);
const std::string kAdvice(kMoveFailedAdvice);

class MoveToTrash : public FakeWorldTest {
 protected:
  // Lays out a genuine copy in `folder` and gives it as the user confirmed it.
  Installation confirmedCopy(const std::string& folder = "/Applications") {
    world().addBundle(folder, fake::genuineInfoPlist());
    std::optional<Installation> found = installation(folderURL(folder));
    EXPECT_TRUE(found);
    world().events.clear();
    world().toolRuns.clear();
    return *found;
  }

  void launchServicesExits(int status) {
    world().tools[kLsregister] = [status](const fake::ToolRun&) { return status; };
  }

  // The Launch Services runs, as "argument path".
  Strings launchServicesRuns() const {
    Strings runs;
    for (const fake::ToolRun& run : world().toolRuns) {
      if (run.path != kLsregister) continue;
      std::string line;
      for (const std::string& argument : run.arguments)
        line += (line.empty() ? "" : " ") + argument;
      runs.push_back(line);
    }
    return runs;
  }

  std::size_t signatureChecks() const {
    std::size_t count = 0;
    for (const fake::ToolRun& run : world().toolRuns) count += run.path == kCodesign;
    return count;
  }

  void running(std::vector<std::optional<FileURL>> bundles) {
    std::vector<RunningApplication> applications;
    for (auto& bundle : bundles) applications.emplace_back(std::move(bundle));
    world().running[std::string(kBundleIdentifier)] = std::move(applications);
  }
};

TEST_F(MoveToTrash, TrashesAnUnchangedCopyAfterUnregisteringIt) {
  Installation copy = confirmedCopy();
  launchServicesExits(0);

  EXPECT_EQ(moveToTrash(copy), Removal::trashed());

  EXPECT_EQ(world().trashed, Strings{"/Applications/Kellix.app"});
  EXPECT_FALSE(world().items.contains("/Applications/Kellix.app"));
  EXPECT_EQ(launchServicesRuns(), Strings{"-u /Applications/Kellix.app"});
  // Verified again first, then the running check, the unregistration, the
  // folder's own spelling and a look at the folder there, the move.
  const Strings& events = world().events;
  ASSERT_GE(events.size(), 6u);
  EXPECT_EQ(events[0], "probe /Applications");
  EXPECT_EQ(Strings(events.end() - 6, events.end()),
            (Strings{"run /usr/bin/codesign --verify --strict /Applications/Kellix.app",
                     "running test.kellix.Archiver",
                     "run " + kLsregister + " -u /Applications/Kellix.app",
                     "resolve /Applications/Kellix.app", "probe /Applications/Kellix.app",
                     "trash /Applications/Kellix.app"}));
}

// The trash is handed the bundle through its kernel-resolved folder, and only
// when the folder found there is the verified one; otherwise nothing moves and
// the failed move takes its usual course (verified again, then "-f").
TEST_F(MoveToTrash, MovesTheVerifiedFolderByItsResolvedSpelling) {
  const std::string linked = "/Users/link/../ada/Applications";
  const std::string resolved = "/Volumes/Data/ada/Applications";
  struct Case {
    const char* name;
    std::function<void()> arrange;  // after the confirmation
    bool moved;
  } cases[] = {
      {"resolved folder holds the verified bundle", [&] {}, true},
      {"resolved folder holds another folder of that name",
       [&] {
         world().remove(resolved + "/Kellix.app");
         world().addDirectory(resolved + "/Kellix.app");
       },
       false},
      {"resolved folder holds a file of that name",
       [&] {
         world().remove(resolved + "/Kellix.app");
         world().addFile(resolved + "/Kellix.app");
       },
       false},
      {"the same file number on another volume",
       [&] { world().items[resolved + "/Kellix.app"].device += 1; }, false},
      {"folder cannot be resolved", [&] { world().resolvedFolders[linked] = ""; }, false},
  };
  for (const Case& c : cases) {
    SetUp();
    // The tree holds the bundle under both spellings: the same folder, as the
    // kernel reaches it through the link.
    world().addBundle(resolved, fake::genuineInfoPlist());
    world().resolvedFolders[linked] = resolved;
    Installation copy = confirmedCopy(linked);
    world().items[resolved + "/Kellix.app"].inode = copy.inode;
    launchServicesExits(0);
    c.arrange();

    const Removal removal = moveToTrash(copy);

    if (c.moved) {
      EXPECT_EQ(removal, Removal::trashed()) << c.name;
      EXPECT_EQ(world().trashed, Strings{resolved + "/Kellix.app"}) << c.name;
      EXPECT_EQ(launchServicesRuns(), Strings{"-u " + linked + "/Kellix.app"}) << c.name;
    } else {
      EXPECT_EQ(removal, Removal::failed(std::string(kNotTheVerifiedFolderMessage) + kAdvice))
          << c.name;
      EXPECT_TRUE(world().eventsOf("trash").empty()) << c.name;
      EXPECT_TRUE(world().items.contains(resolved + "/Kellix.app")) << c.name;
      // Verified again after the refusal (at the confirmed spelling, which
      // this tree keeps as it was), and so registered again.
      EXPECT_EQ(launchServicesRuns(),
                (Strings{"-u " + linked + "/Kellix.app", "-f " + linked + "/Kellix.app"}))
          << c.name;
    }
  }
}

TEST_F(MoveToTrash, FailedUnregistrationStillMovesButSaysSo) {
  struct Case {
    const char* name;
    std::optional<int> status;  // nothing: the tool does not exist
  } cases[] = {{"exits 1", 1}, {"killed by a signal", 128 + 15}, {"missing", std::nullopt}};
  for (const Case& c : cases) {
    SetUp();
    Installation copy = confirmedCopy();
    if (c.status) launchServicesExits(*c.status);

    EXPECT_EQ(moveToTrash(copy), Removal::trashedWithoutRefresh()) << c.name;
    EXPECT_EQ(world().trashed, Strings{"/Applications/Kellix.app"}) << c.name;
    EXPECT_EQ(launchServicesRuns(), c.status ? Strings{"-u /Applications/Kellix.app"} : Strings{})
        << c.name;
  }
}

// Whatever changed since the confirmation, nothing further runs.
TEST_F(MoveToTrash, RefusesACopyThatChangedSinceTheConfirmation) {
  struct Case {
    const char* name;
    std::function<void(fake::World&)> change;
  } cases[] = {
      {"deleted", [](fake::World& w) { w.remove("/Applications/Kellix.app"); }},
      {"replaced by another copy",
       [](fake::World& w) {
         w.remove("/Applications/Kellix.app");
         w.addBundle("/Applications", fake::genuineInfoPlist());
       }},
      {"moved to another volume",
       [](fake::World& w) { w.items["/Applications/Kellix.app"].device = 2; }},
      {"signature no longer accepted",
       [](fake::World& w) { w.tools[kCodesign] = [](const fake::ToolRun&) { return 1; }; }},
      {"identifier changed",
       [](fake::World& w) {
         const std::string text = fake::infoPlist({{"CFBundleIdentifier", "test.kellix.Other"},
                                                   {"CFBundleExecutable", "Kellix"},
                                                   {"CFBundlePackageType", "APPL"}});
         w.items["/Applications/Kellix.app/Contents/Info.plist"].contents.assign(text.begin(),
                                                                                 text.end());
       }},
      {"executable became a link",
       [](fake::World& w) {
         w.items["/Applications/Kellix.app/Contents/MacOS/Kellix"].type =
             platform::kNSFileTypeSymbolicLink;
       }},
      {"folder gone", [](fake::World& w) { w.remove("/Applications"); }},
  };
  for (const Case& c : cases) {
    SetUp();
    Installation copy = confirmedCopy();
    launchServicesExits(0);
    c.change(world());

    EXPECT_EQ(
        moveToTrash(copy),
        Removal::failed("This installation changed. Reopen the uninstaller to check it again."))
        << c.name;
    EXPECT_TRUE(launchServicesRuns().empty()) << c.name;
    EXPECT_TRUE(world().eventsOf("running").empty()) << c.name;
    EXPECT_TRUE(world().eventsOf("trash").empty()) << c.name;
  }
}

TEST_F(MoveToTrash, RunningCopyIsLeftAlone) {
  struct Case {
    const char* name;
    std::string folder;  // where the confirmed copy lives
    std::vector<std::optional<FileURL>> running;
    bool match;
  } cases[] = {
      {"nothing running", "/Applications", {}, false},
      {"running without a bundle location", "/Applications", {std::nullopt}, false},
      {"running from another copy",
       "/Applications",
       {FileURL::fileURLWithPath("/Users/ada/Applications/Kellix.app", true)},
       false},
      {"running from this copy",
       "/Applications",
       {FileURL::fileURLWithPath("/Applications/Kellix.app", true)},
       true},
      {"this copy, spelt without the directory mark",
       "/Applications",
       {FileURL::fileURLWithPath("/Applications/Kellix.app", false)},
       true},
      {"this copy, spelt with dots",
       "/Applications",
       {FileURL::fileURLWithPath("/Applications/Utilities/.././Kellix.app", true)},
       true},
      {"this copy, second of several",
       "/Applications",
       {std::nullopt, FileURL::fileURLWithPath("/Volumes/Kellix/Kellix.app", true),
        FileURL::fileURLWithPath("/Applications/Kellix.app", true)},
       true},
      {"this copy, spelt in another letter case",
       "/Applications",
       {FileURL::fileURLWithPath("/applications/Kellix.app", true)},
       false},
      {"this copy, decomposed where the folder is precomposed",
       "/Users/ada/Caf\xC3\xA9",
       {FileURL::fileURLWithPath("/Users/ada/Cafe\xCC\x81/Kellix.app", true)},
       true},
      {"this copy, precomposed where the folder is decomposed",
       "/Users/ada/Cafe\xCC\x81",
       {FileURL::fileURLWithPath("/Users/ada/Caf\xC3\xA9/Kellix.app", true)},
       true},
      {"an accented folder against a plain one",
       "/Users/ada/Caf\xC3\xA9",
       {FileURL::fileURLWithPath("/Users/ada/Cafe/Kellix.app", true)},
       false},
  };
  for (const Case& c : cases) {
    SetUp();
    world().addDirectory("/Users");
    world().addDirectory("/Users/ada");
    Installation copy = confirmedCopy(c.folder);
    launchServicesExits(0);
    running(c.running);

    const Removal removal = moveToTrash(copy);

    EXPECT_EQ(world().eventsOf("running"), Strings{"test.kellix.Archiver"}) << c.name;
    if (c.match) {
      EXPECT_EQ(removal, Removal::failed("Quit Kellix and open the uninstaller again.")) << c.name;
      EXPECT_TRUE(launchServicesRuns().empty()) << c.name;
      EXPECT_TRUE(world().trashed.empty()) << c.name;
    } else {
      EXPECT_EQ(removal, Removal::trashed()) << c.name;
    }
  }
}

// A running Kellix matches when its location spells the copy's path, or else
// when the item there is the copy's very folder (same volume, same file
// number): another spelling of one folder, as through a linked parent folder.
// Each running Kellix costs at most one probe, and a path match none.
TEST_F(MoveToTrash, RunningCheckByPathOrByIdentity) {
  const std::string bundle = "/Users/ada/Applications/Kellix.app";
  const std::string resolved = "/var/home/ada/Applications/Kellix.app";
  const std::string other = "/Volumes/Kellix/Kellix.app";
  const std::string quit(kRunningMessage);
  const std::string unknown(kRunningUnknownMessage);
  struct Case {
    const char* name;
    // Lays out the other spellings; `copy` is the confirmed copy's folder item.
    std::function<void(fake::World&, const fake::Item& copy)> layout;
    std::vector<std::optional<std::string>> running;  // bundle locations
    bool listUnknown;
    Strings probes;       // the probes the running check makes, in order
    std::string message;  // empty: moved
  } cases[] = {
      {"nothing running", {}, {}, false, {}, ""},
      {"the same path: no probe", {}, {bundle}, false, {}, quit},
      {"another path to the same folder",
       [&](fake::World& w, const fake::Item& copy) { w.items[resolved] = copy; },
       {resolved},
       false,
       {resolved},
       quit},
      {"the same file number on another volume",
       [&](fake::World& w, const fake::Item& copy) {
         w.items[resolved] = copy;
         w.items[resolved].device = copy.device + 1;
       },
       {resolved},
       false,
       {resolved},
       ""},
      {"the same volume, another file number",
       [&](fake::World& w, const fake::Item& copy) {
         w.items[resolved] = copy;
         w.items[resolved].inode = copy.inode + 1;
       },
       {resolved},
       false,
       {resolved},
       ""},
      {"the same numbers, but not a folder",
       [&](fake::World& w, const fake::Item& copy) {
         w.items[resolved] = copy;
         w.items[resolved].type = platform::kNSFileTypeSymbolicLink;
       },
       {resolved},
       false,
       {resolved},
       ""},
      {"nothing at the running location", {}, {other}, false, {other}, ""},
      {"the running location cannot be examined",
       [&](fake::World& w, const fake::Item& copy) {
         w.items[resolved] = copy;
         w.items[resolved].unreadable = true;
       },
       {resolved},
       false,
       {resolved},
       ""},
      {"running without a bundle location: no probe", {}, {std::nullopt}, false, {}, ""},
      {"a copy elsewhere, then this one by another path",
       [&](fake::World& w, const fake::Item& copy) {
         w.addDirectory(other);
         w.items[resolved] = copy;
       },
       {other, std::nullopt, resolved, other},
       false,
       {other, resolved},
       quit},
      {"the list unknown: nothing probed", {}, {}, true, {}, unknown},
  };
  for (const Case& c : cases) {
    SetUp();
    world().addDirectory("/Users");
    world().addDirectory("/Users/ada");
    Installation copy = confirmedCopy("/Users/ada/Applications");
    launchServicesExits(0);
    if (c.layout) c.layout(world(), world().items.at(bundle));
    std::vector<std::optional<FileURL>> locations;
    for (const auto& location : c.running) {
      locations.push_back(location ? std::optional(FileURL::fileURLWithPath(*location, true))
                                   : std::nullopt);
    }
    running(locations);
    world().runningUnknown = c.listUnknown;

    const Removal removal = moveToTrash(copy);

    // The probes between the running check and the next step.
    const Strings& events = world().events;
    auto check = std::find(events.begin(), events.end(), "running test.kellix.Archiver");
    ASSERT_NE(check, events.end()) << c.name;
    Strings probes;
    for (auto event = check + 1; event != events.end() && event->starts_with("probe "); ++event) {
      probes.push_back(event->substr(6));
    }
    EXPECT_EQ(probes, c.probes) << c.name;
    if (c.message.empty()) {
      EXPECT_EQ(removal, Removal::trashed()) << c.name;
      EXPECT_EQ(world().trashed, Strings{bundle}) << c.name;
    } else {
      EXPECT_EQ(removal, Removal::failed(c.message)) << c.name;
      EXPECT_TRUE(launchServicesRuns().empty()) << c.name;
      EXPECT_TRUE(world().eventsOf("trash").empty()) << c.name;
      EXPECT_TRUE(world().items.contains(bundle)) << c.name;
    }
  }
}

TEST_F(MoveToTrash, FailedMoveRegistersAnUnchangedCopyAgainOnce) {
  Installation copy = confirmedCopy();
  launchServicesExits(0);
  world().trashError = "The operation couldn\xE2\x80\x99t be completed. (Permission denied.)";

  EXPECT_EQ(moveToTrash(copy),
            Removal::failed("The operation couldn\xE2\x80\x99t be completed. (Permission denied.)" +
                            kAdvice));

  EXPECT_TRUE(world().items.contains("/Applications/Kellix.app"));
  EXPECT_EQ(launchServicesRuns(),
            (Strings{"-u /Applications/Kellix.app", "-f /Applications/Kellix.app"}));
  // Verified before the move and again before registering.
  EXPECT_EQ(signatureChecks(), 2u);
  EXPECT_EQ(world().events.back(), "run " + kLsregister + " -f /Applications/Kellix.app");
}

TEST_F(MoveToTrash, FailedMoveOfACopyThatChangedMeanwhileIsNotRegisteredAgain) {
  Installation copy = confirmedCopy();
  // The unregistration "succeeds", and someone swaps the bundle before the move.
  world().tools[kLsregister] = [](const fake::ToolRun& run) {
    if (run.arguments.at(0) == "-u") {
      fake::World& w = fake::world();
      w.remove("/Applications/Kellix.app");
      w.addBundle("/Applications", fake::genuineInfoPlist());
    }
    return 0;
  };
  world().trashError = "Busy.";

  // The swapped-in folder is not the verified one, so the trash never sees it.
  EXPECT_EQ(moveToTrash(copy),
            Removal::failed(std::string(kNotTheVerifiedFolderMessage) + kAdvice));
  EXPECT_TRUE(world().eventsOf("trash").empty());
  EXPECT_EQ(launchServicesRuns(), Strings{"-u /Applications/Kellix.app"});
  EXPECT_EQ(signatureChecks(), 2u);
}

TEST_F(MoveToTrash, FailedMoveAfterFailedUnregistrationIsNotVerifiedAgain) {
  Installation copy = confirmedCopy();
  launchServicesExits(1);
  world().trashError = "Busy.";

  EXPECT_EQ(moveToTrash(copy), Removal::failed("Busy." + kAdvice));
  EXPECT_EQ(launchServicesRuns(), Strings{"-u /Applications/Kellix.app"});
  EXPECT_EQ(signatureChecks(), 1u);
  EXPECT_EQ(world().events.back(), "trash /Applications/Kellix.app");
}

TEST_F(MoveToTrash, FailureMessageIsTheDescriptionThenTheAdvice) {
  struct Case {
    std::string description;
    std::string message;
  } cases[] = {
      {"Permission denied.",
       "Permission denied. You can move this app to the Trash in Finder and approve any "
       "permission request."},
      {"", " You can move this app to the Trash in Finder and approve any permission request."},
      {"No trash",
       "No trash You can move this app to the Trash in Finder and approve any "
       "permission request."},
  };
  for (const Case& c : cases) {
    SetUp();
    Installation copy = confirmedCopy();
    world().trashError = c.description;
    EXPECT_EQ(moveToTrash(copy), Removal::failed(c.message)) << c.description;
  }
}

}  // namespace
}  // namespace uk

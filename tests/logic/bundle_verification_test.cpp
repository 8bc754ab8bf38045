#include "verify/bundle_verification.h"

#include <functional>
#include <string>
#include <vector>

#include "logic/verification_fixture.h"

namespace uk {
namespace {

using platform::FileAttributes;
using Strings = std::vector<std::string>;

const Strings kAllProbes = {
    "/Applications",
    "/Applications/Kellix.app",
    "/Applications/Kellix.app/Contents",
    "/Applications/Kellix.app/Contents/MacOS",
    "/Applications/Kellix.app/Contents/MacOS/Kellix",
    "/Applications/Kellix.app/Contents/Info.plist",
};

class BundleVerification : public FakeWorldTest {
 protected:
  std::optional<Installation> verifyApplications() {
    return installation(folderURL("/Applications"));
  }
  Strings probes() const { return world().eventsOf("probe"); }
};

TEST_F(BundleVerification, MissingFolderCostsOneProbeAndNoProcess) {
  EXPECT_FALSE(verifyApplications());
  EXPECT_EQ(probes(), Strings{"/Applications"});
  EXPECT_TRUE(world().toolRuns.empty());
}

TEST_F(BundleVerification, FolderThatIsAFileCostsOneProbe) {
  world().addFile("/Applications", "not a folder");
  EXPECT_FALSE(verifyApplications());
  EXPECT_EQ(probes(), Strings{"/Applications"});
}

TEST_F(BundleVerification, FolderWithoutTheAppCostsTwoProbes) {
  world().addDirectory("/Applications");
  world().addDirectory("/Applications/Other.app");
  EXPECT_FALSE(verifyApplications());
  EXPECT_EQ(probes(), (Strings{"/Applications", "/Applications/Kellix.app"}));
  EXPECT_TRUE(world().toolRuns.empty());
}

TEST_F(BundleVerification, GenuineCopyIsProbedInOrderReadOnceAndSignatureCheckedLast) {
  world().addBundle("/Applications", fake::genuineInfoPlist());
  world().items["/Applications/Kellix.app"].device = 0x1'0000'0007;
  world().items["/Applications/Kellix.app"].inode = 0xFFFF'FFFF'FFFF'FFF0;

  std::optional<Installation> found = verifyApplications();

  ASSERT_TRUE(found);
  EXPECT_EQ(found->url, folderURL("/Applications").appendingPathComponent("Kellix.app", true));
  EXPECT_TRUE(found->url.hasDirectoryPath());
  EXPECT_EQ(found->device, 0x1'0000'0007u);
  EXPECT_EQ(found->inode, 0xFFFF'FFFF'FFFF'FFF0u);

  Strings expected;
  for (const std::string& path : kAllProbes) expected.push_back("probe " + path);
  expected.push_back("read /Applications/Kellix.app/Contents/Info.plist");
  expected.push_back("run /usr/bin/codesign --verify --strict /Applications/Kellix.app");
  EXPECT_EQ(world().events, expected);

  ASSERT_EQ(world().toolRuns.size(), 1u);
  const fake::ToolRun& run = world().toolRuns[0];
  EXPECT_EQ(run.path, kCodesign);
  EXPECT_EQ(run.arguments, (Strings{"--verify", "--strict", "/Applications/Kellix.app"}));
  EXPECT_TRUE(run.standardOutputToNull);
  EXPECT_TRUE(run.standardErrorToNull);
}

TEST_F(BundleVerification, SignatureToolGetsTheBundlePathVerbatim) {
  const std::string folder = "/Users/ada/-My Apps\n\xC3\xA9";
  world().addDirectory("/Users/ada");
  world().addBundle(folder, fake::genuineInfoPlist());
  ASSERT_TRUE(installation(folderURL(folder)));
  ASSERT_EQ(world().toolRuns.size(), 1u);
  EXPECT_EQ(world().toolRuns[0].arguments,
            (Strings{"--verify", "--strict", folder + "/Kellix.app"}));
}

// Each way a copy can fail, with how far the verification got before it
// stopped: the number of items probed, and whether Info.plist was read.
struct FailureCase {
  const char* name;
  std::function<void(fake::World&)> spoil;
  std::size_t probes;
  bool read;
};

const std::string kBundle = "/Applications/Kellix.app";

void replaceWith(fake::World& w, const std::string& path, std::string_view type) {
  w.remove(path);
  w.addItem(path, std::string(type));
}

void spoilAttributes(fake::World& w, FileAttributes attributes) {
  w.items[kBundle].attributesOverride = std::move(attributes);
}

const std::string kDirectory(platform::kNSFileTypeDirectory);

const FailureCase kFailures[] = {
    {"bundle is a regular file",
     [](fake::World& w) { replaceWith(w, kBundle, platform::kNSFileTypeRegular); }, 2, false},
    {"bundle is a symbolic link",
     [](fake::World& w) { replaceWith(w, kBundle, platform::kNSFileTypeSymbolicLink); }, 2, false},
    {"bundle attributes unreadable", [](fake::World& w) { w.items[kBundle].unreadable = true; }, 2,
     false},
    {"no volume number",
     [](fake::World& w) {
       spoilAttributes(w, {{"NSFileType", kDirectory}, {"NSFileSystemFileNumber", uint64_t{5}}});
     },
     2, false},
    {"volume number is not a number",
     [](fake::World& w) {
       spoilAttributes(w, {{"NSFileType", kDirectory},
                           {"NSFileSystemNumber", std::string("1")},
                           {"NSFileSystemFileNumber", uint64_t{5}}});
     },
     2, false},
    {"no file number",
     [](fake::World& w) {
       spoilAttributes(w, {{"NSFileType", kDirectory}, {"NSFileSystemNumber", uint64_t{1}}});
     },
     2, false},
    {"file number is a date",
     [](fake::World& w) {
       spoilAttributes(w, {{"NSFileType", kDirectory},
                           {"NSFileSystemNumber", uint64_t{1}},
                           {"NSFileSystemFileNumber", std::chrono::system_clock::time_point{}}});
     },
     2, false},
    {"file type is not a type name",
     [](fake::World& w) {
       spoilAttributes(w, {{"NSFileType", uint64_t{4}},
                           {"NSFileSystemNumber", uint64_t{1}},
                           {"NSFileSystemFileNumber", uint64_t{5}}});
     },
     2, false},
    {"file type in another letter case",
     [](fake::World& w) { w.items[kBundle].type = "NSFileTypedirectory"; }, 2, false},
    {"Contents missing", [](fake::World& w) { w.remove(kBundle + "/Contents"); }, 3, false},
    {"Contents is a symbolic link",
     [](fake::World& w) {
       replaceWith(w, kBundle + "/Contents", platform::kNSFileTypeSymbolicLink);
     },
     3, false},
    {"MacOS missing", [](fake::World& w) { w.remove(kBundle + "/Contents/MacOS"); }, 4, false},
    {"MacOS is a regular file",
     [](fake::World& w) {
       replaceWith(w, kBundle + "/Contents/MacOS", platform::kNSFileTypeRegular);
     },
     4, false},
    {"executable missing", [](fake::World& w) { w.remove(kBundle + "/Contents/MacOS/Kellix"); }, 5,
     false},
    {"executable is a folder",
     [](fake::World& w) {
       replaceWith(w, kBundle + "/Contents/MacOS/Kellix", platform::kNSFileTypeDirectory);
     },
     5, false},
    {"executable is a symbolic link",
     [](fake::World& w) {
       replaceWith(w, kBundle + "/Contents/MacOS/Kellix", platform::kNSFileTypeSymbolicLink);
     },
     5, false},
    {"executable is a socket",
     [](fake::World& w) {
       replaceWith(w, kBundle + "/Contents/MacOS/Kellix", platform::kNSFileTypeSocket);
     },
     5, false},
    {"Info.plist missing", [](fake::World& w) { w.remove(kBundle + "/Contents/Info.plist"); }, 6,
     false},
    {"Info.plist is a folder",
     [](fake::World& w) {
       replaceWith(w, kBundle + "/Contents/Info.plist", platform::kNSFileTypeDirectory);
     },
     6, false},
    {"Info.plist is a symbolic link",
     [](fake::World& w) {
       replaceWith(w, kBundle + "/Contents/Info.plist", platform::kNSFileTypeSymbolicLink);
     },
     6, false},
    {"Info.plist is a character device",
     [](fake::World& w) {
       replaceWith(w, kBundle + "/Contents/Info.plist", platform::kNSFileTypeCharacterSpecial);
     },
     6, false},
    {"Info.plist cannot be read",
     [](fake::World& w) {
       // Its attributes read, its contents not.
       w.items[kBundle + "/Contents/Info.plist"].contents.assign(platform::kMaximumFileSize + 1,
                                                                 ' ');
     },
     6, true},
};

class BundleVerificationFailure : public BundleVerification,
                                  public ::testing::WithParamInterface<FailureCase> {};

TEST_P(BundleVerificationFailure, StopsAtTheFirstFailedStepWithoutStartingTheTool) {
  world().addBundle("/Applications", fake::genuineInfoPlist());
  GetParam().spoil(world());

  EXPECT_FALSE(verifyApplications());
  EXPECT_EQ(probes(), Strings(kAllProbes.begin(), kAllProbes.begin() + GetParam().probes));
  EXPECT_EQ(world().eventsOf("read").size(), GetParam().read ? 1u : 0u);
  EXPECT_TRUE(world().toolRuns.empty());
}

INSTANTIATE_TEST_SUITE_P(Causes, BundleVerificationFailure, ::testing::ValuesIn(kFailures),
                         caseName);

// Info.plist contents: whether they make a genuine copy, and so whether the
// code-signature tool is reached.
struct PlistCase {
  const char* name;
  std::string text;
  bool genuine;
};

std::string withValues(const std::string& identifier, const std::string& executable,
                       const std::string& type) {
  return fake::infoPlist({{"CFBundleIdentifier", identifier},
                          {"CFBundleExecutable", executable},
                          {"CFBundlePackageType", type}});
}

std::string withRawEntries(const std::string& entries) {
  return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\">\n<dict>\n" + entries +
         "</dict>\n</plist>\n";
}

const std::string kExecutableAndType =
    "<key>CFBundleExecutable</key><string>Kellix</string>"
    "<key>CFBundlePackageType</key><string>APPL</string>";

const PlistCase kPlists[] = {
    {"genuine", fake::genuineInfoPlist(), true},
    {"only the three keys", withValues("test.kellix.Archiver", "Kellix", "APPL"), true},
    {"other keys of any type are ignored",
     withRawEntries(kExecutableAndType +
                    "<key>CFBundleIdentifier</key><string>test.kellix.Archiver</string>"
                    "<key>CFBundleDocumentTypes</key><array><dict><key>CFBundleTypeExtensions"
                    "</key><array><string>kelx</string></array></dict></array>"
                    "<key>LSRequiresNativeExecution</key><true/>"
                    "<key>Count</key><integer>3</integer>"),
     true},
    {"identifier in another letter case", withValues("test.kellix.archiver", "Kellix", "APPL"),
     false},
    {"identifier with a trailing space", withValues("test.kellix.Archiver ", "Kellix", "APPL"),
     false},
    {"identifier with a leading space", withValues(" test.kellix.Archiver", "Kellix", "APPL"),
     false},
    {"identifier with a combining mark",
     withValues("test.kellix.Archiver\xCC\x81", "Kellix", "APPL"), false},
    {"identifier of another app", withValues("test.kellix.Helper", "Kellix", "APPL"), false},
    {"identifier is a number",
     withRawEntries(kExecutableAndType + "<key>CFBundleIdentifier</key><integer>1</integer>"),
     false},
    {"identifier is an array",
     withRawEntries(kExecutableAndType +
                    "<key>CFBundleIdentifier</key><array><string>test.kellix.Archiver</string>"
                    "</array>"),
     false},
    {"identifier missing", withRawEntries(kExecutableAndType), false},
    {"identifier key in another letter case",
     withRawEntries(kExecutableAndType +
                    "<key>cfbundleidentifier</key><string>test.kellix.Archiver</string>"),
     false},
    {"executable names another file", withValues("test.kellix.Archiver", "Helper", "APPL"), false},
    {"executable in another letter case", withValues("test.kellix.Archiver", "kellix", "APPL"),
     false},
    {"package type of a framework", withValues("test.kellix.Archiver", "Kellix", "FMWK"), false},
    {"package type missing",
     fake::infoPlist(
         {{"CFBundleIdentifier", "test.kellix.Archiver"}, {"CFBundleExecutable", "Kellix"}}),
     false},
    {"empty file", "", false},
    {"not a property list", "CFBundleIdentifier = test.kellix.Archiver", false},
    {"truncated XML", fake::genuineInfoPlist().substr(0, 200), false},
    {"array at the top",
     "<?xml version=\"1.0\"?><plist version=\"1.0\"><array><string>test.kellix.Archiver</string>"
     "</array></plist>",
     false},
    {"string at the top",
     "<?xml version=\"1.0\"?><plist version=\"1.0\"><string>test.kellix.Archiver</string></plist>",
     false},
};

class BundleVerificationPlist : public BundleVerification,
                                public ::testing::WithParamInterface<PlistCase> {};

TEST_P(BundleVerificationPlist, DecidesOnTheThreeValuesAlone) {
  world().addBundle("/Applications", GetParam().text);
  EXPECT_EQ(verifyApplications().has_value(), GetParam().genuine);
  // The signature is checked only for a copy that passed everything else.
  EXPECT_EQ(world().toolRuns.size(), GetParam().genuine ? 1u : 0u);
  EXPECT_EQ(world().eventsOf("read").size(), 1u);
}

INSTANTIATE_TEST_SUITE_P(Values, BundleVerificationPlist, ::testing::ValuesIn(kPlists), caseName);

TEST_F(BundleVerification, SignatureToolDecidesLast) {
  struct Case {
    const char* name;
    std::optional<int> status;  // nothing: the tool cannot be started
    bool genuine;
  } cases[] = {
      {"accepts", 0, true},
      {"rejects", 1, false},
      {"ended by a signal", 128 + 9, false},
      {"cannot be started", std::nullopt, false},
  };
  for (const Case& c : cases) {
    SetUp();
    world().addBundle("/Applications", fake::genuineInfoPlist());
    if (c.status) {
      world().tools[kCodesign] = [status = *c.status](const fake::ToolRun&) { return status; };
    } else {
      world().tools.erase(kCodesign);
    }
    EXPECT_EQ(verifyApplications().has_value(), c.genuine) << c.name;
    EXPECT_EQ(probes(), kAllProbes) << c.name;
  }
}

TEST_F(BundleVerification, SignedVolumeAndFileNumbersAreConvertedUnsigned) {
  world().addBundle("/Applications", fake::genuineInfoPlist());
  spoilAttributes(world(), {{"NSFileType", kDirectory},
                            {"NSFileSystemNumber", std::int64_t{-2}},
                            {"NSFileSystemFileNumber", std::int64_t{77}}});
  std::optional<Installation> found = verifyApplications();
  ASSERT_TRUE(found);
  EXPECT_EQ(found->device, static_cast<std::uint64_t>(-2));
  EXPECT_EQ(found->inode, 77u);
}

TEST_F(BundleVerification, RepeatedCallsOnAnUnchangedCopyAgree) {
  world().addBundle("/Applications", fake::genuineInfoPlist());
  std::optional<Installation> first = verifyApplications();
  ASSERT_TRUE(first);
  EXPECT_EQ(verifyApplications(), first);
  // The removal verifies again from the folder part of the url.
  EXPECT_EQ(installation(first->url.deletingLastPathComponent()), first);
  // Nothing is cached: every call probes afresh.
  EXPECT_EQ(probes().size(), 3 * kAllProbes.size());
}

TEST_F(BundleVerification, ReplacedBundleGivesItsOwnNumbers) {
  world().addBundle("/Applications", fake::genuineInfoPlist());
  std::optional<Installation> before = verifyApplications();
  ASSERT_TRUE(before);

  world().remove(kBundle);
  world().addBundle("/Applications", fake::genuineInfoPlist());
  std::optional<Installation> after = verifyApplications();
  ASSERT_TRUE(after);
  EXPECT_EQ(after->url, before->url);
  EXPECT_NE(after->inode, before->inode);
  EXPECT_NE(after, before);
}

TEST(InstallationEquality, ComparesUrlDeviceAndInode) {
  using platform::FileURL;
  const FileURL url = FileURL::fileURLWithPath("/Applications/Kellix.app", true);
  const Installation base{url, 1, 2};
  struct Case {
    const char* name;
    Installation other;
    bool equal;
  } cases[] = {
      {"same fields", {url, 1, 2}, true},
      {"other inode", {url, 1, 3}, false},
      {"other device", {url, 9, 2}, false},
      {"other path",
       {FileURL::fileURLWithPath("/Users/ada/Applications/Kellix.app", true), 1, 2},
       false},
      {"same path without the directory mark",
       {FileURL::fileURLWithPath("/Applications/Kellix.app", false), 1, 2},
       false},
      {"same place spelt with a dot",
       {FileURL::fileURLWithPath("/Applications/./Kellix.app", true), 1, 2},
       false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(base == c.other, c.equal) << c.name;
    EXPECT_EQ(c.other == base, c.equal) << c.name;
  }
}

}  // namespace
}  // namespace uk

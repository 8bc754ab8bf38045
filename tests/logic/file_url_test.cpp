#include "platform/file_url.h"

#include <gtest/gtest.h>

namespace uk::platform {
namespace {

TEST(FileURL, PathHasNoTrailingSeparatorButForTheRoot) {
  EXPECT_EQ(FileURL::fileURLWithPath("/Applications", true).path(), "/Applications");
  EXPECT_EQ(FileURL::fileURLWithPath("/Applications/", true).path(), "/Applications");
  EXPECT_EQ(FileURL::fileURLWithPath("/Applications", false).path(), "/Applications");
  EXPECT_EQ(FileURL::fileURLWithPath("/", true).path(), "/");
  EXPECT_EQ(FileURL::fileURLWithPath("//Users///ada/", true).path(), "/Users/ada");
}

TEST(FileURL, DirectoryMarkTakesPartInEquality) {
  const FileURL folder = FileURL::fileURLWithPath("/Applications", true);
  EXPECT_EQ(folder, FileURL::fileURLWithPath("/Applications/", true));
  EXPECT_NE(folder, FileURL::fileURLWithPath("/Applications", false));
  EXPECT_TRUE(folder.hasDirectoryPath());
  EXPECT_FALSE(FileURL::fileURLWithPath("/Applications", false).hasDirectoryPath());
}

TEST(FileURL, AppendingKeepsComponentsVerbatim) {
  const FileURL home = FileURL::fileURLWithPath("/Users/ada", true);
  struct Case {
    const char* component;
    const char* path;
  } cases[] = {
      {"Applications", "/Users/ada/Applications"},
      {"with space", "/Users/ada/with space"},
      {"line\nbreak", "/Users/ada/line\nbreak"},
      {"-leading-dash", "/Users/ada/-leading-dash"},
      {"Caf\xC3\xA9", "/Users/ada/Caf\xC3\xA9"},    // precomposed
      {"Cafe\xCC\x81", "/Users/ada/Cafe\xCC\x81"},  // decomposed, kept as given
      {"100%", "/Users/ada/100%"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(home.appendingPathComponent(c.component, true).path(), c.path) << c.component;
    EXPECT_EQ(home.appendingPathComponent(c.component).path(), c.path) << c.component;
  }
  EXPECT_TRUE(home.appendingPathComponent("Kellix.app", true).hasDirectoryPath());
  EXPECT_FALSE(home.appendingPathComponent("Info.plist").hasDirectoryPath());
  // Appending to a plain URL works the same as to a directory URL.
  EXPECT_EQ(FileURL::fileURLWithPath("/a", false).appendingPathComponent("b").path(), "/a/b");
}

TEST(FileURL, DeletingLastComponentGivesTheFolder) {
  const FileURL bundle =
      FileURL::fileURLWithPath("/Applications", true).appendingPathComponent("Kellix.app", true);
  EXPECT_EQ(bundle.deletingLastPathComponent(), FileURL::fileURLWithPath("/Applications", true));
  EXPECT_EQ(FileURL::fileURLWithPath("/Applications", true).deletingLastPathComponent().path(),
            "/");
  EXPECT_EQ(FileURL::fileURLWithPath("/", true).deletingLastPathComponent().path(), "/");
}

TEST(FileURL, StandardizingResolvesDotsLexically) {
  struct Case {
    const char* path;
    bool directory;
    const char* standardized;
  } cases[] = {
      {"/Applications/./Kellix.app", true, "/Applications/Kellix.app"},
      {"/Applications/Other/../Kellix.app", true, "/Applications/Kellix.app"},
      {"/../Applications/Kellix.app", true, "/Applications/Kellix.app"},
      {"/Applications/Kellix.app/.", true, "/Applications/Kellix.app"},
      {"/a/b/../../c", false, "/c"},
      {"/..", true, "/"},
      {"/Applications/..Kellix.app", true, "/Applications/..Kellix.app"},
  };
  for (const Case& c : cases) {
    const FileURL standardized =
        FileURL::fileURLWithPath(c.path, c.directory).standardizedFileURL();
    EXPECT_EQ(standardized.path(), c.standardized) << c.path;
    EXPECT_EQ(standardized.hasDirectoryPath(), c.directory) << c.path;
  }
}

TEST(FileURL, RelativePathIsTakenAgainstTheWorkingDirectory) {
  const std::string path = FileURL::fileURLWithPath("relative/item", false).path();
  ASSERT_FALSE(path.empty());
  EXPECT_EQ(path.front(), '/');
  EXPECT_TRUE(path.ends_with("/relative/item")) << path;
}

}  // namespace
}  // namespace uk::platform

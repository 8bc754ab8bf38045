#pragma once

// The operating-system services that the uninstaller calls. Every platform
// implements these declarations (platform/linux, platform/cocoa), and the
// logic tests link a fake instead. Only standard C++ types cross this seam;
// no call throws.

#include <chrono>
#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "platform/file_url.h"

namespace uk::platform {

// ---------------------------------------------------------------------------
// Text

// True when the two UTF-8 texts are canonically equivalent Unicode
// (precomposed and decomposed spellings are equal); letter case counts. A text
// that is not valid UTF-8 equals only its byte-identical twin.
bool textEqual(std::string_view a, std::string_view b);

// ---------------------------------------------------------------------------
// Application

enum class ActivationPolicy { regular = 0, accessory = 1, prohibited = 2 };

// The process as a desktop application. On a platform without a display the
// calls succeed and do nothing visible.
class Application {
 public:
  static Application& sharedApplication();

  // Gives true when the policy was applied.
  bool setActivationPolicy(ActivationPolicy policy);
  void finishLaunching();
  void activateIgnoringOtherApps(bool flag);

 private:
  Application() = default;
};

// ---------------------------------------------------------------------------
// Alerts

enum class AlertStyle { warning = 0, informational = 1, critical = 2 };

// The answer of the first button; the n-th button added answers
// kAlertFirstButtonReturn + n - 1.
inline constexpr long kAlertFirstButtonReturn = 1000;

// One button of an alert. Its key equivalent and destructive look are either
// set by the caller or left unset; an unset one keeps the platform's default
// (on a Mac, NSAlert's first button answers Return).
class AlertButton {
 public:
  explicit AlertButton(std::string title) : title_(std::move(title)) {}

  void setKeyEquivalent(std::string keyEquivalent) { keyEquivalent_ = std::move(keyEquivalent); }
  void setHasDestructiveAction(bool destructive) { destructive_ = destructive; }

  const std::string& title() const { return title_; }
  // Nothing when never set.
  const std::optional<std::string>& keyEquivalent() const { return keyEquivalent_; }
  // Nothing when never set; an unset button is not destructive.
  const std::optional<bool>& hasDestructiveAction() const { return destructive_; }

 private:
  std::string title_;
  std::optional<std::string> keyEquivalent_;
  std::optional<bool> destructive_;
};

// A modal alert. Its contents are plain values; only runModal() reaches the
// platform, which shows the alert and blocks until a button is chosen.
class Alert {
 public:
  Alert() = default;

  void setAlertStyle(AlertStyle style) { style_ = style; }
  void setMessageText(std::string text) { messageText_ = std::move(text); }
  void setInformativeText(std::string text) { informativeText_ = std::move(text); }

  // Adds a button after the others and gives it for further setting; the
  // reference stays valid for the alert's life.
  AlertButton& addButtonWithTitle(std::string title) {
    return buttons_.emplace_back(std::move(title));
  }

  // Shows the alert and waits for the user. Gives kAlertFirstButtonReturn for
  // the first button, one more for each later one.
  //
  // Return chooses returnButtonIndex() on every platform. Set "\r" on the
  // first button only: on a Mac the first button keeps NSAlert's own Return
  // when a later one is given "\r" too, and which of the two answers is not
  // documented.
  //
  // Escape differs. On Linux (GTK and terminal), Escape, closing the window or
  // the end of input chooses escapeButtonIndex(). On a Mac, Escape chooses a
  // button titled "Cancel" that is not the first and has no key equivalent
  // set (NSAlert's default); otherwise Escape does nothing, and an alert has
  // no close control. So the confirmation, whose "Cancel" is first and holds
  // Return, answers Escape on Linux only.
  long runModal();

  // Nothing when never set: the platform's default look stands (NSAlert's
  // default style on a Mac, GtkMessageDialog's default message type on Linux).
  const std::optional<AlertStyle>& alertStyle() const { return style_; }
  const std::string& messageText() const { return messageText_; }
  const std::string& informativeText() const { return informativeText_; }
  const std::deque<AlertButton>& buttons() const { return buttons_; }

  // The index of the button that Return chooses: the first whose key
  // equivalent is set to "\r", else the first. Requires at least one button.
  std::size_t returnButtonIndex() const;
  // The index of the button that Escape chooses on Linux: the first titled
  // "Cancel", else the first (see runModal for the Mac).
  std::size_t escapeButtonIndex() const;

 private:
  std::optional<AlertStyle> style_;
  std::string messageText_;
  std::string informativeText_;
  std::deque<AlertButton> buttons_;
};

// ---------------------------------------------------------------------------
// Running applications

class RunningApplication {
 public:
  // The running applications with that bundle identifier, possibly none;
  // nothing when the running applications could not be listed at all.
  static std::optional<std::vector<RunningApplication>> runningApplicationsWithBundleIdentifier(
      std::string_view bundleIdentifier);

  explicit RunningApplication(std::optional<FileURL> bundleURL)
      : bundleURL_(std::move(bundleURL)) {}

  // The location of the application's bundle, or nothing when it has none.
  const std::optional<FileURL>& bundleURL() const { return bundleURL_; }

 private:
  std::optional<FileURL> bundleURL_;
};

// ---------------------------------------------------------------------------
// Files

// Attribute keys and file-type names, spelt as the Mac spells them.
inline constexpr std::string_view kNSFileType = "NSFileType";
inline constexpr std::string_view kNSFileSize = "NSFileSize";
inline constexpr std::string_view kNSFileModificationDate = "NSFileModificationDate";
inline constexpr std::string_view kNSFileReferenceCount = "NSFileReferenceCount";
inline constexpr std::string_view kNSFilePosixPermissions = "NSFilePosixPermissions";
inline constexpr std::string_view kNSFileOwnerAccountID = "NSFileOwnerAccountID";
inline constexpr std::string_view kNSFileGroupOwnerAccountID = "NSFileGroupOwnerAccountID";
inline constexpr std::string_view kNSFileSystemNumber = "NSFileSystemNumber";
inline constexpr std::string_view kNSFileSystemFileNumber = "NSFileSystemFileNumber";

inline constexpr std::string_view kNSFileTypeDirectory = "NSFileTypeDirectory";
inline constexpr std::string_view kNSFileTypeRegular = "NSFileTypeRegular";
inline constexpr std::string_view kNSFileTypeSymbolicLink = "NSFileTypeSymbolicLink";
inline constexpr std::string_view kNSFileTypeSocket = "NSFileTypeSocket";
inline constexpr std::string_view kNSFileTypeCharacterSpecial = "NSFileTypeCharacterSpecial";
inline constexpr std::string_view kNSFileTypeBlockSpecial = "NSFileTypeBlockSpecial";
inline constexpr std::string_view kNSFileTypeUnknown = "NSFileTypeUnknown";

// A value of the attribute dictionary: a type name, an unsigned or signed
// number, or a date.
using FileAttributeValue =
    std::variant<std::string, std::uint64_t, std::int64_t, std::chrono::system_clock::time_point>;

// The complete map from attribute key to value for one item.
using FileAttributes = std::map<std::string, FileAttributeValue, std::less<>>;

// An error raised by a platform call, reduced to what the user may read.
struct Error {
  std::string localizedDescription;
};

class FileManager {
 public:
  // The one shared file manager of the process.
  static FileManager& defaultManager();

  // The attributes of the item itself (a final symbolic link is reported as a
  // link, not followed), or nothing when it cannot be examined.
  std::optional<FileAttributes> attributesOfItemAtPath(const std::string& path);

  // The current user's home folder, marked as a directory.
  FileURL homeDirectoryForCurrentUser();

  // Moves the item into the Trash, never copying or deleting it. Gives true
  // when it was moved; otherwise false, with `error` (when given) describing
  // why.
  //
  // Spellings: give a URL whose folder part holds no link, "." or ".."
  // (resolvedItemURL's answer). Only then do the kernel and the trash read
  // the same item: GIO canonicalises "link/.." as text, so it would move the
  // item at the text's spelling, not the one the kernel reaches through the
  // link. That Foundation reads such a spelling through the kernel on a Mac
  // is an assumption nobody here has run; with a resolved spelling nothing
  // depends on it. The item's own name is never followed.
  //
  // On Linux a true answer also means that the user's Trash lists the item
  // with its former place: when GIO moved it but left its .trashinfo
  // missing, empty or naming something else, a fresh one is put in its
  // place (written beside it, then renamed over it). If even that cannot be
  // written, the item is still in the Trash and the answer stays true.
  bool trashItemAtURL(const FileURL& url, Error* error);

 private:
  FileManager() = default;
};

// The whole contents of a regular file, read without following a final
// symbolic link and without blocking. Gives nothing when the item is missing,
// is not a regular file at the moment it is opened, is larger than
// kMaximumFileSize, or cannot be read in full.
inline constexpr std::size_t kMaximumFileSize = 8 * 1024 * 1024;
std::optional<std::vector<std::uint8_t>> dataWithContentsOfURL(const FileURL& url);

// The same item spelt through the folder that the kernel reaches by `url`'s
// folder part: every link, "." and ".." in the folder resolved by the system
// (realpath(3)), the item's own last component appended as it is, never
// followed, with `url`'s directory mark. Nothing when the folder cannot be
// resolved, or when the last component is empty, "." or "..".
std::optional<FileURL> resolvedItemURL(const FileURL& url);

// ---------------------------------------------------------------------------
// Child processes

// One child process. The executable and arguments are used exactly as given:
// no shell, no search path. Standard input is inherited; no other descriptor
// of ours reaches the child.
class Task {
 public:
  Task();
  ~Task();
  Task(const Task&) = delete;
  Task& operator=(const Task&) = delete;

  void setExecutableURL(const FileURL& url);
  // The arguments, without the program name.
  void setArguments(std::vector<std::string> arguments);
  void setStandardOutputToNullDevice();
  void setStandardErrorToNullDevice();

  // Starts the child. Gives false when it cannot be started.
  bool launchAndReturnError();
  // Blocks until the launched child has exited, with no time limit.
  void waitUntilExit();
  // The exit status of the child; nonzero when a signal ended it.
  int terminationStatus() const;

 private:
  struct State;  // each platform defines its own
  std::unique_ptr<State> state_;
};

}  // namespace uk::platform

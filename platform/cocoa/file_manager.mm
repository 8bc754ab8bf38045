// Item attributes, the home folder and the move to the Trash, over
// Foundation's NSFileManager.

#include <chrono>
#include <limits>

#include "platform/cocoa/string_conversions.h"
#include "platform/platform.h"

namespace uk::platform {
namespace {

// A date as a system_clock instant, or nothing when the clock cannot hold it.
std::optional<std::chrono::system_clock::time_point> toTimePoint(NSDate* date) {
  using Clock = std::chrono::system_clock;
  const std::chrono::duration<double> sinceEpoch(date.timeIntervalSince1970);
  const auto limit =
      std::chrono::duration_cast<std::chrono::duration<double>>(Clock::duration::max());
  if (!(sinceEpoch < limit && sinceEpoch > -limit)) return std::nullopt;
  return Clock::time_point(std::chrono::duration_cast<Clock::duration>(sinceEpoch));
}

// The whole dictionary in portable values: file-type names and other strings
// as text, numbers as unsigned 64-bit values, dates as instants. A value of
// any other kind (the extended-attribute dictionary) has no portable form and
// is left out.
FileAttributes toFileAttributes(NSDictionary* attributes) {
  FileAttributes converted;
  for (id key in attributes) {
    if (![key isKindOfClass:[NSString class]]) continue;
    // A key or text without an exact spelling is left out, like a value of
    // no portable kind.
    std::optional<std::string> name = toStdString(key);
    if (!name) continue;
    id value = [attributes objectForKey:key];
    if ([value isKindOfClass:[NSString class]]) {
      if (auto text = toStdString(value)) converted.insert_or_assign(*name, *text);
    } else if ([value isKindOfClass:[NSNumber class]]) {
      NSNumber* number = value;
      converted.insert_or_assign(*name, std::uint64_t{number.unsignedLongLongValue});
    } else if ([value isKindOfClass:[NSDate class]]) {
      if (auto instant = toTimePoint(value)) converted.insert_or_assign(*name, *instant);
    }
  }
  return converted;
}

}  // namespace

FileManager& FileManager::defaultManager() {
  static FileManager manager;
  return manager;
}

std::optional<FileAttributes> FileManager::attributesOfItemAtPath(const std::string& path) {
  @autoreleasepool {
    NSString* itemPath = toNSString(path);
    if (itemPath == nil) return std::nullopt;
    NSError* error = nil;
    NSDictionary* attributes = [[NSFileManager defaultManager] attributesOfItemAtPath:itemPath
                                                                                error:&error];
    if (attributes == nil) return std::nullopt;
    return toFileAttributes(attributes);
  }
}

FileURL FileManager::homeDirectoryForCurrentUser() {
  @autoreleasepool {
    NSURL* home = [[NSFileManager defaultManager] homeDirectoryForCurrentUser];
    // A home whose path has no exact UTF-8 spelling (which APFS cannot
    // store) is searched as the empty, root-owned /var/empty.
    return FileURL::fileURLWithPath(toStdString(home.path).value_or("/var/empty"), true);
  }
}

bool FileManager::trashItemAtURL(const FileURL& url, Error* error) {
  @autoreleasepool {
    NSURL* item = toNSURL(url);
    NSError* failure = nil;
    if (item == nil) {
      // No file on the Mac has such a name; let Foundation word the refusal.
      failure = [NSError errorWithDomain:NSCocoaErrorDomain
                                    code:NSFileReadInvalidFileNameError
                                userInfo:nil];
    } else if ([[NSFileManager defaultManager] trashItemAtURL:item
                                             resultingItemURL:nullptr
                                                        error:&failure]) {
      return true;
    }
    if (error != nullptr) {
      error->localizedDescription = toStdString(failure.localizedDescription).value_or("");
    }
    return false;
  }
}

}  // namespace uk::platform

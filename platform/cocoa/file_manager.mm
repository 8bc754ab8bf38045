// The home folder and the move to the Trash, over Foundation's NSFileManager
// (the item attributes are the portable ones in platform/posix).

#include "platform/cocoa/string_conversions.h"
#include "platform/platform.h"

namespace uk::platform {

FileManager& FileManager::defaultManager() {
  static FileManager manager;
  return manager;
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
      error->localizedDescription = toStdString(failure.localizedDescription)
                                        .value_or("The item could not be moved to the Trash.");
    }
    return false;
  }
}

}  // namespace uk::platform

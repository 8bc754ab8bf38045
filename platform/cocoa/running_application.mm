// Running applications over AppKit's NSRunningApplication.

#import <AppKit/AppKit.h>

#include "platform/cocoa/string_conversions.h"
#include "platform/platform.h"

namespace uk::platform {

std::optional<std::vector<RunningApplication>>
RunningApplication::runningApplicationsWithBundleIdentifier(std::string_view bundleIdentifier) {
  @autoreleasepool {
    NSString* identifier = toNSString(bundleIdentifier);
    if (identifier == nil) return std::vector<RunningApplication>{};
    std::vector<RunningApplication> applications;
    for (NSRunningApplication* application in
         [NSRunningApplication runningApplicationsWithBundleIdentifier:identifier]) {
      applications.emplace_back(toFileURL(application.bundleURL));
    }
    return applications;
  }
}

}  // namespace uk::platform

// The process as a desktop application, over AppKit's shared NSApplication.

#import <AppKit/AppKit.h>

#include "platform/platform.h"

namespace uk::platform {
namespace {

NSApplicationActivationPolicy toNSActivationPolicy(ActivationPolicy policy) {
  switch (policy) {
    case ActivationPolicy::regular:
      return NSApplicationActivationPolicyRegular;
    case ActivationPolicy::accessory:
      return NSApplicationActivationPolicyAccessory;
    case ActivationPolicy::prohibited:
      return NSApplicationActivationPolicyProhibited;
  }
  return NSApplicationActivationPolicyRegular;
}

}  // namespace

Application& Application::sharedApplication() {
  static Application application;
  // The first call makes NSApp, before anything else talks to AppKit.
  [NSApplication sharedApplication];
  return application;
}

bool Application::setActivationPolicy(ActivationPolicy policy) {
  @autoreleasepool {
    return [[NSApplication sharedApplication] setActivationPolicy:toNSActivationPolicy(policy)];
  }
}

void Application::finishLaunching() {
  @autoreleasepool {
    [[NSApplication sharedApplication] finishLaunching];
  }
}

void Application::activateIgnoringOtherApps(bool flag) {
  @autoreleasepool {
// Deprecated from macOS 14 in favour of cooperative activation, but a program
// started from Finder must still bring its alerts in front of Finder's window.
#pragma clang diagnostic push
#pragma clang diagnostic ignored "-Wdeprecated-declarations"
    [[NSApplication sharedApplication] activateIgnoringOtherApps:flag];
#pragma clang diagnostic pop
  }
}

}  // namespace uk::platform

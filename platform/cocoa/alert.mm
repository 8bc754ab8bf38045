// Modal alerts over AppKit's NSAlert, built from the portable Alert's contents.

#import <AppKit/AppKit.h>

#include "platform/cocoa/string_conversions.h"
#include "platform/platform.h"

namespace uk::platform {
namespace {

NSAlertStyle toNSAlertStyle(AlertStyle style) {
  switch (style) {
    case AlertStyle::warning:
      return NSAlertStyleWarning;
    case AlertStyle::informational:
      return NSAlertStyleInformational;
    case AlertStyle::critical:
      return NSAlertStyleCritical;
  }
  return NSAlertStyleWarning;
}

// A text for the screen: NSAlert refuses nil, so a text that is not UTF-8 is
// shown byte for byte as Latin-1 rather than dropped.
NSString* toShownText(const std::string& text) {
  NSString* shown = toNSString(text);
  if (shown != nil) return shown;
  return [[NSString alloc] initWithBytes:text.data()
                                  length:text.size()
                                encoding:NSISOLatin1StringEncoding];
}

// Brings the application to the front right before an alert runs: discovery
// may have spent seconds in codesign since start-up, and the user may have
// moved to another application meanwhile.
void activateForAlert() {
  NSApplication* application = [NSApplication sharedApplication];
  if (@available(macOS 14.0, *)) {
    // From macOS 14 activation is cooperative: ignoring other applications
    // no longer forces it, and `activate` is the documented request.
    [application activate];
  } else {
#pragma clang diagnostic push
#pragma clang diagnostic ignored "-Wdeprecated-declarations"
    [application activateIgnoringOtherApps:YES];
#pragma clang diagnostic pop
  }
}

}  // namespace

long Alert::runModal() {
  @autoreleasepool {
    NSAlert* alert = [[NSAlert alloc] init];
    // Only what the caller set is sent: NSAlert's defaults stand for the rest
    // (the default style; Return on the first button, Escape on "Cancel").
    // Sending an empty key equivalent would take Return away from the first
    // button.
    if (style_) [alert setAlertStyle:toNSAlertStyle(*style_)];
    [alert setMessageText:toShownText(messageText_)];
    [alert setInformativeText:toShownText(informativeText_)];
    for (const AlertButton& button : buttons_) {
      NSButton* added = [alert addButtonWithTitle:toShownText(button.title())];
      if (button.keyEquivalent()) [added setKeyEquivalent:toShownText(*button.keyEquivalent())];
      if (button.hasDestructiveAction()) {
        [added setHasDestructiveAction:*button.hasDestructiveAction()];
      }
    }
    activateForAlert();
    return [alert runModal];
  }
}

}  // namespace uk::platform

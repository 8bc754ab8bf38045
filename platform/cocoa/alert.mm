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

}  // namespace

long Alert::runModal() {
  @autoreleasepool {
    NSAlert* alert = [[NSAlert alloc] init];
    [alert setAlertStyle:toNSAlertStyle(style_)];
    [alert setMessageText:toShownText(messageText_)];
    [alert setInformativeText:toShownText(informativeText_)];
    for (const AlertButton& button : buttons_) {
      NSButton* added = [alert addButtonWithTitle:toShownText(button.title())];
      [added setKeyEquivalent:toShownText(button.keyEquivalent())];
      [added setHasDestructiveAction:button.hasDestructiveAction()];
    }
    return [alert runModal];
  }
}

}  // namespace uk::platform

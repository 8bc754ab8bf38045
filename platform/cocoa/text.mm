// Text equality over Foundation's NSString comparison, which treats
// canonically equivalent sequences as equal unless asked for a literal search.

#include "platform/cocoa/string_conversions.h"
#include "platform/platform.h"

namespace uk::platform {

bool textEqual(std::string_view a, std::string_view b) {
  // Byte-identical texts are equal whatever they hold; this is the only way
  // a text that is not valid UTF-8 equals anything.
  if (a == b) return true;
  @autoreleasepool {
    NSString* left = toNSString(a);
    NSString* right = toNSString(b);
    if (left == nil || right == nil) return false;
    // Without NSLiteralSearch (and without NSCaseInsensitiveSearch) compare:
    // matches precomposed and decomposed spellings and keeps letter case.
    return [left compare:right options:0] == NSOrderedSame;
  }
}

}  // namespace uk::platform

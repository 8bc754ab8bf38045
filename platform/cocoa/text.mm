// Text equality over Foundation's Unicode normalisation: both texts in
// Normalization Form D, then compared code unit for code unit.

#include "platform/cocoa/string_conversions.h"
#include "platform/platform.h"

namespace uk::platform {

bool textEqual(std::string_view a, std::string_view b) {
  // Byte-identical texts are equal whatever they hold; this is the only way
  // a text that is not valid UTF-8, or holds a NUL, equals anything.
  if (a == b) return true;
  // NSString holds a NUL as a character like any other; here it makes the
  // text invalid, whatever the conversion does with it.
  if (a.find('\0') != std::string_view::npos || b.find('\0') != std::string_view::npos) {
    return false;
  }
  @autoreleasepool {
    NSString* left = toNSString(a);
    NSString* right = toNSString(b);
    if (left == nil || right == nil) return false;
    // compare: without NSLiteralSearch orders whole clusters by combining
    // class and would match texts that are not canonically equivalent; the
    // NFD forms (CFStringNormalize's decomposition and canonical reordering,
    // CFString.c) compared literally by isEqualToString: match exactly the
    // canonically equivalent ones, with letter case kept.
    return [left.decomposedStringWithCanonicalMapping
        isEqualToString:right.decomposedStringWithCanonicalMapping];
  }
}

}  // namespace uk::platform

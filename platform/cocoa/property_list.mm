// Property-list parsing over Foundation's NSPropertyListSerialization (XML,
// binary and the old text encoding), converted into the portable value tree.

#include "platform/property_list.h"

#include <cstring>

#include "platform/cocoa/string_conversions.h"

namespace uk::platform {
namespace {

// Nesting deeper than this is refused rather than converted, so a hostile
// file cannot exhaust the stack; the Linux reader draws the same line.
constexpr int kMaximumDepth = 512;

std::optional<PropertyList> convert(id value, int depth);

std::optional<PropertyList> convertNumber(NSNumber* number) {
  // Property-list booleans are the CFBoolean singletons, whose type encoding
  // is "c" (char); the parser stores integers as 32-, 64- or 128-bit numbers,
  // so no integer is spelt "c".
  const char* type = number.objCType;
  if (std::strcmp(type, "c") == 0) return PropertyList{static_cast<bool>(number.boolValue)};
  if (std::strcmp(type, "d") == 0 || std::strcmp(type, "f") == 0) {
    return PropertyList{number.doubleValue};
  }
  // Integers above the signed range come as "Q" and keep their bit pattern.
  if (std::strcmp(type, "Q") == 0) {
    return PropertyList{static_cast<std::int64_t>(number.unsignedLongLongValue)};
  }
  return PropertyList{static_cast<std::int64_t>(number.longLongValue)};
}

std::optional<PropertyList> convertArray(NSArray* array, int depth) {
  PlistArray items;
  items.reserve(array.count);
  for (id element in array) {
    std::optional<PropertyList> item = convert(element, depth + 1);
    if (!item) return std::nullopt;
    items.push_back(std::move(*item));
  }
  return PropertyList{std::move(items)};
}

std::optional<PropertyList> convertDictionary(NSDictionary* dictionary, int depth) {
  PlistDictionary entries;
  for (id key in dictionary) {
    if (![key isKindOfClass:[NSString class]]) return std::nullopt;
    std::optional<PropertyList> item = convert([dictionary objectForKey:key], depth + 1);
    if (!item) return std::nullopt;
    entries.insert_or_assign(toStdString(key), std::move(*item));
  }
  return PropertyList{std::move(entries)};
}

std::optional<PropertyList> convert(id value, int depth) {
  if (depth > kMaximumDepth) return std::nullopt;
  if ([value isKindOfClass:[NSString class]]) return PropertyList{toStdString(value)};
  if ([value isKindOfClass:[NSNumber class]]) return convertNumber(value);
  if ([value isKindOfClass:[NSDate class]]) {
    NSDate* date = value;
    return PropertyList{PlistDate{date.timeIntervalSinceReferenceDate}};
  }
  if ([value isKindOfClass:[NSData class]]) {
    NSData* data = value;
    const auto* bytes = static_cast<const std::uint8_t*>(data.bytes);
    return PropertyList{PlistData{std::vector<std::uint8_t>(bytes, bytes + data.length)}};
  }
  if ([value isKindOfClass:[NSArray class]]) return convertArray(value, depth);
  if ([value isKindOfClass:[NSDictionary class]]) return convertDictionary(value, depth);
  // Keyed-archive UIDs and anything else have no place in the tree.
  return std::nullopt;
}

}  // namespace

std::optional<PropertyList> propertyListWithData(std::span<const std::uint8_t> bytes) {
  @autoreleasepool {
    // The bytes stay ours: Foundation reads them in place and never frees them.
    NSData* data = [NSData dataWithBytesNoCopy:const_cast<std::uint8_t*>(bytes.data())
                                        length:bytes.size()
                                  freeWhenDone:NO];
    NSError* error = nil;
    id root = [NSPropertyListSerialization propertyListWithData:data
                                                        options:NSPropertyListImmutable
                                                         format:nullptr
                                                          error:&error];
    if (root == nil) return std::nullopt;
    return convert(root, 1);
  }
}

}  // namespace uk::platform

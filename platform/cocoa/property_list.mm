// Property-list parsing over Foundation's NSPropertyListSerialization, behind
// the pre-check that the Linux reader runs too (so the old text encoding and
// everything else outside the shared subset is refused here as there),
// converted into the portable value tree.

#include "platform/property_list.h"

#include <algorithm>
#include <cstring>

#include "platform/cocoa/string_conversions.h"
#include "platform/property_list_budget.h"
#include "platform/property_list_guard.h"

namespace uk::platform {
namespace {

// The conversion walks the parsed objects as a tree. With
// NSPropertyListImmutable, the binary reader gives one object per offset and
// shares it wherever the list names it again (CFBinaryPList.c caches objects
// by offset), so a list of 64 arrays that each hold the next one twice parses
// at once yet stands for 2^64 values. Foundation's own nesting cap does not
// see that; the budget charges every use and refuses past the same limits as
// the other platforms' readers. Nesting is bounded too, so the recursion
// below stays shallow.

std::optional<PropertyList> convert(id value, std::size_t depth, PropertyListBudget& budget);

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

// `depth` is the nesting of this container: 1 at the top.
std::optional<PropertyList> convertArray(NSArray* array, std::size_t depth,
                                         PropertyListBudget& budget) {
  if (!budget.chargeContainer(depth)) return std::nullopt;
  PlistArray items;
  items.reserve(std::min<std::size_t>(array.count, budget.valuesLeft()));
  for (id element in array) {
    std::optional<PropertyList> item = convert(element, depth, budget);
    if (!item) return std::nullopt;
    items.push_back(std::move(*item));
  }
  return PropertyList{std::move(items)};
}

std::optional<PropertyList> convertDictionary(NSDictionary* dictionary, std::size_t depth,
                                              PropertyListBudget& budget) {
  if (!budget.chargeContainer(depth)) return std::nullopt;
  PlistDictionary entries;
  for (id key in dictionary) {
    if (![key isKindOfClass:[NSString class]]) return std::nullopt;
    std::optional<std::string> name = toStdString(key);
    if (!name || !budget.chargeLeaf(name->size())) return std::nullopt;
    std::optional<PropertyList> item = convert([dictionary objectForKey:key], depth, budget);
    if (!item) return std::nullopt;
    // Distinct keys convert to distinct texts; a collision is refused.
    if (!entries.emplace(std::move(*name), std::move(*item)).second) return std::nullopt;
  }
  return PropertyList{std::move(entries)};
}

// `depth` is the nesting of the container that holds `value`: 0 at the top.
std::optional<PropertyList> convert(id value, std::size_t depth, PropertyListBudget& budget) {
  if ([value isKindOfClass:[NSString class]]) {
    std::optional<std::string> text = toStdString(value);
    if (!text || !budget.chargeLeaf(text->size())) return std::nullopt;
    return PropertyList{std::move(*text)};
  }
  if ([value isKindOfClass:[NSNumber class]]) {
    if (!budget.chargeLeaf(0)) return std::nullopt;
    return convertNumber(value);
  }
  if ([value isKindOfClass:[NSDate class]]) {
    if (!budget.chargeLeaf(0)) return std::nullopt;
    NSDate* date = value;
    return PropertyList{PlistDate{date.timeIntervalSinceReferenceDate}};
  }
  if ([value isKindOfClass:[NSData class]]) {
    NSData* data = value;
    // Charged before the copy, so a shared large blob is never copied twice
    // past the limit.
    if (!budget.chargeLeaf(data.length)) return std::nullopt;
    const auto* bytes = static_cast<const std::uint8_t*>(data.bytes);
    return PropertyList{PlistData{std::vector<std::uint8_t>(bytes, bytes + data.length)}};
  }
  if ([value isKindOfClass:[NSArray class]]) return convertArray(value, depth + 1, budget);
  if ([value isKindOfClass:[NSDictionary class]]) {
    return convertDictionary(value, depth + 1, budget);
  }
  // Keyed-archive UIDs and anything else have no place in the tree.
  return std::nullopt;
}

}  // namespace

std::optional<PropertyList> propertyListWithData(std::span<const std::uint8_t> bytes) {
  if (bytes.empty() || !propertyListIsSafeToParse(bytes)) return std::nullopt;
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
    PropertyListBudget budget;
    return convert(root, 0, budget);
  }
}

}  // namespace uk::platform

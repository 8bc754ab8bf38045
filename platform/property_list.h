#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <optional>
#include <span>
#include <string>
#include <variant>
#include <vector>

namespace uk::platform {

struct PropertyList;

using PlistDictionary = std::map<std::string, PropertyList>;
using PlistArray = std::vector<PropertyList>;

// Seconds since 2001-01-01 00:00:00 UTC, the reference date of property lists.
struct PlistDate {
  double secondsSinceReferenceDate = 0;
  friend bool operator==(const PlistDate&, const PlistDate&) = default;
};

struct PlistData {
  std::vector<std::uint8_t> bytes;
  friend bool operator==(const PlistData&, const PlistData&) = default;
};

// One value of a parsed property list. Strings are UTF-8; dictionary keys are
// always strings.
struct PropertyList {
  std::variant<PlistDictionary, PlistArray, std::string, std::int64_t, double, bool, PlistDate,
               PlistData>
      value;
};

// Parses the bytes of a property list in any encoding the platform reads
// (XML and binary at least) into an immutable value tree. Gives nothing for
// bytes that are not a property list, or that the platform refuses to parse.
std::optional<PropertyList> propertyListWithData(std::span<const std::uint8_t> bytes);

}  // namespace uk::platform

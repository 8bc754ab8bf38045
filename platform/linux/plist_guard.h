#pragma once

// A bounded pre-check of property-list bytes, run before libplist sees them.
// libplist 2.2.0 recurses without a limit, re-parses shared binary objects,
// cuts strings at a NUL character and drops ill-formed UTF-16; this check
// refuses every input on which it would crash, slow down or answer a value
// that differs from the bytes, and every XML input that Foundation might read
// otherwise.

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

#include "platform/property_list_limits.h"

namespace uk::platform {

// The first bytes of a binary property list.
inline constexpr std::string_view kBinaryPropertyListMagic = "bplist00";

// True when the bytes may be handed to libplist: bytes that start with
// "bplist00" are checked as a binary property list, all others as XML.
// Neither check recurses; both run in time and memory linear in the input.
bool propertyListIsSafeToParse(std::span<const std::uint8_t> bytes);

// True for XML in the subset that Foundation and libplist read alike, within
// the shared nesting limit, at most twice kPropertyListMaxValues elements and
// at most 2^26 units of libplist's entity-resolution work: an optional declaration ("1.0", UTF-8 or
// no encoding), the standard document type, <plist> (with at most a version), then exactly one
// object of the property-list elements, none with attributes, with only white space and comments
// between them; in <key> and <string> text the five predefined entities, character references
// ("&#ddd;", "&#xhhh;") to characters other than NUL and CDATA sections; well-formed <integer>,
// <real>, <date> and <data>. The text must be valid UTF-8. Anything else,
// including other processing instructions, is refused.
bool xmlPropertyListIsSafe(std::span<const std::uint8_t> bytes);

// True for a "bplist00" list whose object references form no cycle and stay
// inside the object table, whose offsets, lengths and trailer values stay
// inside the file, whose strings hold no NUL and are well-formed UTF-16 or
// ASCII, without sets, UIDs or nulls, and that expands within the shared
// limits of nesting, values and string and data bytes.
bool binaryPropertyListIsSafe(std::span<const std::uint8_t> bytes);

}  // namespace uk::platform

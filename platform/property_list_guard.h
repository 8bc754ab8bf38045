#pragma once

// A bounded pre-check of property-list bytes, plain C++ run on every
// platform before the system's parser sees them (libplist on Linux,
// NSPropertyListSerialization on a Mac), so that both read the same subset:
// a list is read on a Mac only if Linux reads it, and the reverse. It refuses
// every input on which libplist 2.2.0 would crash, slow down or answer a
// value that differs from the bytes, every input that CoreFoundation's
// readers (CFBinaryPList.c, CFPropertyList.c) refuse or read otherwise, and
// every dictionary that holds one key twice.

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

#include "platform/property_list_limits.h"

namespace uk::platform {

// The first bytes of a binary property list.
inline constexpr std::string_view kBinaryPropertyListMagic = "bplist00";

// True when the bytes may be handed to the platform's parser: bytes that start with
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
// <real>, <date> and <data>. The text must be valid UTF-8 without U+FEFF in
// any key or string, no dictionary may hold a key twice (after references and
// CDATA are resolved) or the key "CF$UID" alone. Anything else, including
// other processing instructions, is refused.
bool xmlPropertyListIsSafe(std::span<const std::uint8_t> bytes);

// True for a "bplist00" list that passes every check of CoreFoundation's
// binary reader on its trailer and offset table (the table ends at the
// trailer, every entry points before it, references and offsets are wide
// enough), whose object references form no cycle and stay inside the object
// table, whose strings hold no NUL and no U+FEFF and are well-formed UTF-16
// or 7-bit ASCII, whose dictionaries hold no key text twice, without sets,
// UIDs or nulls, and that expands within the shared limits of nesting, values
// and string and data bytes.
bool binaryPropertyListIsSafe(std::span<const std::uint8_t> bytes);

}  // namespace uk::platform

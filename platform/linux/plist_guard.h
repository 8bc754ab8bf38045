#pragma once

// A bounded pre-check of property-list bytes, run before libplist sees them.
// libplist 2.2.0 recurses without a limit, re-parses shared binary objects,
// cuts strings at a NUL character and drops ill-formed UTF-16; this check
// refuses every input on which it would crash, slow down or answer a value
// that differs from the bytes.

#include <cstddef>
#include <cstdint>
#include <span>

#include "platform/property_list_limits.h"

namespace uk::platform {

// True when the bytes may be handed to libplist: bytes that start with
// "bplist00" are checked as a binary property list, all others as XML. Gives
// false for nesting deeper than kPropertyListMaxDepth; binary object
// references that form a cycle or leave the object table; offsets, lengths or
// trailer values outside the file; a string holding a NUL character; text
// that is not valid UTF-8 (XML) or not well-formed UTF-16 (binary); XML
// entity declarations or document-type subsets; and inputs that expand beyond
// the limits above. Runs in time and memory linear in the input, without
// recursion.
bool propertyListIsSafeToParse(std::span<const std::uint8_t> bytes);

}  // namespace uk::platform

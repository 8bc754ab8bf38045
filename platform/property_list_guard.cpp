// The pre-check of property-list bytes before libplist parses them: the
// encoding decides which of the two checks reads them.

#include "platform/property_list_guard.h"

#include <string_view>

namespace uk::platform {

bool propertyListIsSafeToParse(std::span<const std::uint8_t> bytes) {
  const std::string_view text(reinterpret_cast<const char*>(bytes.data()), bytes.size());
  if (text.starts_with(kBinaryPropertyListMagic)) return binaryPropertyListIsSafe(bytes);
  return xmlPropertyListIsSafe(bytes);
}

}  // namespace uk::platform

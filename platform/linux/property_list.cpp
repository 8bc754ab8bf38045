// Property-list parsing over libplist (XML and binary encodings).

#include "platform/property_list.h"

#include <plist/plist.h>

#include <cstdlib>
#include <limits>
#include <memory>

namespace uk::platform {
namespace {

struct PlistDeleter {
  void operator()(plist_t node) const { plist_free(node); }
};
using PlistHandle = std::unique_ptr<void, PlistDeleter>;

struct FreeDeleter {
  void operator()(char* p) const { std::free(p); }
};
using CString = std::unique_ptr<char, FreeDeleter>;

std::optional<PropertyList> convert(plist_t node) {
  switch (plist_get_node_type(node)) {
    case PLIST_BOOLEAN: {
      uint8_t value = 0;
      plist_get_bool_val(node, &value);
      return PropertyList{value != 0};
    }
    case PLIST_UINT: {
      uint64_t value = 0;
      plist_get_uint_val(node, &value);
      return PropertyList{static_cast<std::int64_t>(value)};
    }
    case PLIST_REAL: {
      double value = 0;
      plist_get_real_val(node, &value);
      return PropertyList{value};
    }
    case PLIST_STRING: {
      char* raw = nullptr;
      plist_get_string_val(node, &raw);
      CString value(raw);
      if (!value) return std::nullopt;
      return PropertyList{std::string(value.get())};
    }
    case PLIST_DATA: {
      char* raw = nullptr;
      uint64_t length = 0;
      plist_get_data_val(node, &raw, &length);
      CString value(raw);
      PlistData data;
      if (value) data.bytes.assign(value.get(), value.get() + length);
      return PropertyList{std::move(data)};
    }
    case PLIST_DATE: {
      int32_t seconds = 0;
      int32_t microseconds = 0;
      plist_get_date_val(node, &seconds, &microseconds);
      return PropertyList{PlistDate{seconds + microseconds / 1e6}};
    }
    case PLIST_ARRAY: {
      PlistArray array;
      const uint32_t size = plist_array_get_size(node);
      array.reserve(size);
      for (uint32_t i = 0; i < size; ++i) {
        std::optional<PropertyList> item = convert(plist_array_get_item(node, i));
        if (!item) return std::nullopt;
        array.push_back(std::move(*item));
      }
      return PropertyList{std::move(array)};
    }
    case PLIST_DICT: {
      PlistDictionary dictionary;
      plist_dict_iter iter = nullptr;
      plist_dict_new_iter(node, &iter);
      if (iter == nullptr) return std::nullopt;
      std::unique_ptr<void, decltype(&std::free)> iterOwner(iter, &std::free);
      for (;;) {
        char* rawKey = nullptr;
        plist_t value = nullptr;
        plist_dict_next_item(node, iter, &rawKey, &value);
        CString key(rawKey);
        if (!key || value == nullptr) break;
        std::optional<PropertyList> item = convert(value);
        if (!item) return std::nullopt;
        dictionary.insert_or_assign(std::string(key.get()), std::move(*item));
      }
      return PropertyList{std::move(dictionary)};
    }
    default:
      // Keyed-archive UIDs and anything newer have no place in our tree.
      return std::nullopt;
  }
}

}  // namespace

std::optional<PropertyList> propertyListWithData(std::span<const std::uint8_t> bytes) {
  // libplist takes a 32-bit length; never let a longer input be cut short.
  if (bytes.empty() || bytes.size() > std::numeric_limits<uint32_t>::max()) return std::nullopt;
  plist_t root = nullptr;
  plist_from_memory(reinterpret_cast<const char*>(bytes.data()),
                    static_cast<uint32_t>(bytes.size()), &root);
  PlistHandle owner(root);
  if (!root) return std::nullopt;
  return convert(root);
}

}  // namespace uk::platform

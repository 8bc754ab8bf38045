// Property-list parsing over libplist (XML and binary encodings), behind a
// pre-check that refuses the bytes libplist 2.2.0 would mishandle and the XML
// that Foundation would read otherwise.

#include "platform/property_list.h"

#include <glib.h>
#include <plist/plist.h>

#include <cstdlib>
#include <cstring>
#include <limits>
#include <map>
#include <memory>
#include <vector>

#include "platform/property_list_budget.h"
#include "platform/property_list_guard.h"

namespace uk::platform {
namespace {

struct PlistDeleter {
  void operator()(plist_t node) const { plist_free(node); }
};
using PlistHandle = std::unique_ptr<void, PlistDeleter>;

struct FreeDeleter {
  void operator()(void* p) const { std::free(p); }
};

std::optional<std::string> utf8Text(const char* text) {
  if (text == nullptr) return std::nullopt;
  const std::size_t length = std::strlen(text);
  const gchar* invalid = nullptr;
  if (!g_utf8_validate(text, static_cast<gssize>(length), &invalid)) return std::nullopt;
  return std::string(text, length);
}

// Converts a leaf node; containers are left empty for the caller to fill.
bool convertValue(plist_t node, PropertyList& out) {
  switch (plist_get_node_type(node)) {
    case PLIST_BOOLEAN: {
      uint8_t value = 0;
      plist_get_bool_val(node, &value);
      out.value = value != 0;
      return true;
    }
    case PLIST_UINT: {
      // Negative integers arrive in two's complement; large unsigned ones
      // keep their bits.
      uint64_t value = 0;
      plist_get_uint_val(node, &value);
      out.value = static_cast<std::int64_t>(value);
      return true;
    }
    case PLIST_REAL: {
      double value = 0;
      plist_get_real_val(node, &value);
      out.value = value;
      return true;
    }
    case PLIST_STRING: {
      uint64_t length = 0;
      std::optional<std::string> text = utf8Text(plist_get_string_ptr(node, &length));
      if (!text) return false;
      out.value = std::move(*text);
      return true;
    }
    case PLIST_DATA: {
      uint64_t length = 0;
      const char* bytes = plist_get_data_ptr(node, &length);
      PlistData data;
      if (bytes != nullptr) data.bytes.assign(bytes, bytes + length);
      out.value = std::move(data);
      return true;
    }
    case PLIST_DATE: {
      // libplist gives whole seconds and the magnitude of the fraction.
      int32_t seconds = 0;
      int32_t microseconds = 0;
      plist_get_date_val(node, &seconds, &microseconds);
      const double fraction = microseconds / 1e6;
      out.value = PlistDate{seconds < 0 ? seconds - fraction : seconds + fraction};
      return true;
    }
    case PLIST_ARRAY:
      out.value = PlistArray{};
      return true;
    case PLIST_DICT:
      out.value = PlistDictionary{};
      return true;
    default:
      // Keyed-archive UIDs and anything newer have no place in our tree.
      return false;
  }
}

// The string or data bytes that a converted leaf holds.
std::size_t payloadBytes(const PropertyList& leaf) {
  if (const auto* text = std::get_if<std::string>(&leaf.value)) return text->size();
  if (const auto* data = std::get_if<PlistData>(&leaf.value)) return data->bytes.size();
  return 0;
}

// Converts the whole tree with an explicit work list, so the depth of the
// input never reaches the call stack. Each container is sized before its
// children are queued, so the queued targets stay where they are. Every value
// is charged to the same budget as on the Mac; the pre-check has refused
// shared binary objects already, so here it bounds large plain trees.
std::optional<PropertyList> convert(plist_t root) {
  struct Work {
    plist_t node;
    PropertyList* target;
    std::size_t depth;  // the nesting of the container that holds it: 0 at the top
  };
  PropertyListBudget budget;
  PropertyList result;
  std::vector<Work> pending{{root, &result, 0}};
  while (!pending.empty()) {
    const Work work = pending.back();
    pending.pop_back();
    if (!convertValue(work.node, *work.target)) return std::nullopt;
    const bool container = std::holds_alternative<PlistArray>(work.target->value) ||
                           std::holds_alternative<PlistDictionary>(work.target->value);
    const std::size_t depth = work.depth + 1;
    if (container ? !budget.chargeContainer(depth)
                  : !budget.chargeLeaf(payloadBytes(*work.target))) {
      return std::nullopt;
    }
    if (auto* array = std::get_if<PlistArray>(&work.target->value)) {
      const std::size_t size = plist_array_get_size(work.node);
      if (size > budget.valuesLeft()) return std::nullopt;
      array->resize(size);
      plist_array_iter iter = nullptr;
      plist_array_new_iter(work.node, &iter);
      if (iter == nullptr) return std::nullopt;
      std::unique_ptr<void, FreeDeleter> iterOwner(iter);
      for (PropertyList& slot : *array) {
        plist_t item = nullptr;
        plist_array_next_item(work.node, iter, &item);
        if (item == nullptr) return std::nullopt;
        pending.push_back({item, &slot, depth});
      }
    } else if (auto* dictionary = std::get_if<PlistDictionary>(&work.target->value)) {
      plist_dict_iter iter = nullptr;
      plist_dict_new_iter(work.node, &iter);
      if (iter == nullptr) return std::nullopt;
      std::unique_ptr<void, FreeDeleter> iterOwner(iter);
      // The pre-check has refused a key repeated in either encoding; a key
      // that still comes twice is refused here too, never replaced.
      std::map<std::string, plist_t> items;
      for (;;) {
        char* rawKey = nullptr;
        plist_t item = nullptr;
        plist_dict_next_item(work.node, iter, &rawKey, &item);
        std::unique_ptr<char, FreeDeleter> keyOwner(rawKey);
        if (rawKey == nullptr || item == nullptr) break;
        std::optional<std::string> key = utf8Text(rawKey);
        if (!key || !budget.chargeLeaf(key->size())) return std::nullopt;
        if (!items.emplace(std::move(*key), item).second) return std::nullopt;
      }
      for (auto& [key, item] : items) pending.push_back({item, &(*dictionary)[key], depth});
    }
  }
  return result;
}

}  // namespace

std::optional<PropertyList> propertyListWithData(std::span<const std::uint8_t> bytes) {
  // libplist takes a 32-bit length; never let a longer input be cut short.
  if (bytes.empty() || bytes.size() > std::numeric_limits<uint32_t>::max()) return std::nullopt;
  if (!propertyListIsSafeToParse(bytes)) return std::nullopt;
  plist_t root = nullptr;
  plist_from_memory(reinterpret_cast<const char*>(bytes.data()),
                    static_cast<uint32_t>(bytes.size()), &root);
  PlistHandle owner(root);
  if (!root) return std::nullopt;
  return convert(root);
}

}  // namespace uk::platform

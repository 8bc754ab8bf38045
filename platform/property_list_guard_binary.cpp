// The pre-check of binary ("bplist00") property lists: an iterative walk of
// the object graph from the root, each object read through a bounded cursor.

#include <algorithm>
#include <bit>
#include <cmath>
#include <string>
#include <unordered_map>
#include <vector>

#include "platform/property_list_byte_cursor.h"
#include "platform/property_list_guard.h"

namespace uk::platform {
namespace {

constexpr std::size_t kTrailerSize = 32;

enum Kind : std::uint8_t {
  kSimple = 0x0,
  kInteger = 0x1,
  kReal = 0x2,
  kDate = 0x3,
  kData = 0x4,
  kAsciiString = 0x5,
  kUtf16String = 0x6,
  kArray = 0xA,
  kDictionary = 0xD,
};

// Adds with saturation just above the limit, so sums never wrap.
void addCapped(std::uint64_t& total, std::uint64_t amount, std::uint64_t limit) {
  total = (amount > limit || total + amount > limit) ? limit + 1 : total + amount;
}

class BinaryCheck {
 public:
  explicit BinaryCheck(std::span<const std::uint8_t> bytes) : bytes_(bytes) {}

  bool run() {
    if (!readTrailer()) return false;
    records_.assign(objectCount_, Record{});
    if (!visit(root_, false)) return false;
    while (!stack_.empty()) {
      Frame& top = stack_.back();
      if (top.next == top.references) {
        if (!finish()) return false;
        continue;
      }
      const bool isKey = top.next < top.keys;
      if (top.next == 0) keyTexts_.clear();
      std::uint64_t child = 0;
      if (!top.refs.readBigEndian(refSize_, child)) return false;
      ++top.next;
      if (++referencesRead_ > kPropertyListMaxValues) return false;
      if (!visit(child, isKey)) return false;
      // Keys are strings, so no other container opens while they are read.
      if (isKey) {
        std::uint32_t text = 0;
        if (!textOf(child, text)) return false;
        keyTexts_.push_back(text);
        if (top.next == top.keys && !keysAreDistinct()) return false;
      }
    }
    return true;
  }

 private:
  // As wide as the counts beside it, so that a table of records has no
  // padding and clears like plain memory.
  enum class State : std::uint32_t { unseen, open, done };

  // What the walk knows of one object of the table. The counts stop just
  // above the limits, so 32 bits hold them.
  struct Record {
    std::uint32_t values = 0;   // values it expands to, itself included
    std::uint32_t payload = 0;  // string and data bytes it expands to
    State state = State::unseen;
    std::uint32_t text = 0;  // for a string used as a key: see textOf
  };
  static_assert(kPropertyListMaxValues < UINT32_MAX && kPropertyListMaxPayloadBytes < UINT32_MAX);

  // An object's marker and count, with a cursor at its body.
  struct Object {
    std::uint8_t kind = 0;
    std::uint8_t low = 0;     // the marker's low nibble
    std::uint64_t count = 0;  // bytes, UTF-16 units or entries
    ByteCursor body;          // from the body to the end of the object area
  };

  // A container being walked: its references are read one at a time.
  struct Frame {
    std::uint64_t index = 0;
    ByteCursor refs;
    std::uint64_t references = 0;  // all references: keys, then values
    std::uint64_t keys = 0;
    std::uint64_t next = 0;
    std::uint64_t values = 1;  // this container and everything below it
    std::uint64_t payload = 0;
  };

  // The trailer's sizes, counts and offsets, each inside the file: objects
  // lie between the magic and the offset table, which ends at the trailer.
  bool readTrailer() {
    if (bytes_.size() < kBinaryPropertyListMagic.size() + kTrailerSize) return false;
    ByteCursor trailer(bytes_.last(kTrailerSize));
    std::uint8_t offsetSize = 0;
    std::uint8_t refSize = 0;
    std::uint64_t objectCount = 0;
    std::uint64_t tableOffset = 0;
    if (!trailer.skip(6) || !trailer.read(offsetSize) || !trailer.read(refSize) ||
        !trailer.readBigEndian(8, objectCount) || !trailer.readBigEndian(8, root_) ||
        !trailer.readBigEndian(8, tableOffset)) {
      return false;
    }
    if (offsetSize < 1 || offsetSize > 8 || refSize < 1 || refSize > 8) return false;
    if (objectCount == 0 || objectCount > kPropertyListMaxValues || root_ >= objectCount) {
      return false;
    }
    // The rules of CoreFoundation's __CFBinaryPlistGetTopLevelInfo: at least
    // one byte of objects, an offset table that ends exactly where the
    // trailer begins, references wide enough to number every object, and
    // offsets wide enough to reach the offset table's own start.
    const std::uint64_t end = bytes_.size() - kTrailerSize;
    if (tableOffset <= kBinaryPropertyListMagic.size() || tableOffset >= end) return false;
    if (objectCount > (end - tableOffset) / offsetSize) return false;
    if (tableOffset + objectCount * offsetSize != end) return false;
    if (refSize < 8 && (std::uint64_t{1} << (8 * refSize)) <= objectCount) return false;
    if (offsetSize < 8 && (std::uint64_t{1} << (8 * offsetSize)) <= tableOffset) return false;
    offsetSize_ = offsetSize;
    refSize_ = refSize;
    objectCount_ = objectCount;
    objects_ = bytes_.first(static_cast<std::size_t>(tableOffset));
    offsets_ = bytes_.subspan(static_cast<std::size_t>(tableOffset),
                              static_cast<std::size_t>(objectCount * offsetSize));
    // Every entry, used or not, points before the offset table
    // (__CFBinaryPlistGetTopLevelInfo checks them all before any walk).
    ByteCursor entries(offsets_);
    for (std::uint64_t i = 0; i < objectCount; ++i) {
      std::uint64_t offset = 0;
      if (!entries.readBigEndian(offsetSize, offset) || offset >= tableOffset) return false;
    }
    return true;
  }

  // A number shared by every string object of the same text, ASCII and
  // UTF-16 alike, so that a dictionary can tell two keys of one text apart
  // from two keys that only share an object. Zero stands for "not yet known".
  bool textOf(std::uint64_t index, std::uint32_t& id) {
    Record& record = records_[index];
    if (record.text != 0) {
      id = record.text;
      return true;
    }
    Object object;
    if (!header(index, object)) return false;
    std::string units;  // UTF-16 code units, big-endian, ASCII widened
    std::span<const std::uint8_t> content;
    if (object.kind == kAsciiString) {
      if (!object.body.take(object.count, content)) return false;
      units.reserve(content.size() * 2);
      for (std::uint8_t c : content) units += {'\0', static_cast<char>(c)};
    } else if (object.kind == kUtf16String) {
      if (object.count > object.body.remaining() / 2) return false;
      object.body.take(object.count * 2, content);
      units.assign(content.begin(), content.end());
    } else {
      return false;
    }
    if (!scan(content.size())) return false;
    const auto [found, added] =
        texts_.try_emplace(std::move(units), static_cast<std::uint32_t>(texts_.size() + 1));
    record.text = found->second;
    id = record.text;
    return true;
  }

  // True when no two keys of the dictionary just read share a text: a
  // repeated key keeps its first value in CoreFoundation (the binary reader
  // builds dictionaries with __CFDictionaryCreateTransfer) and its last in
  // libplist, so neither reading may decide.
  bool keysAreDistinct() {
    std::sort(keyTexts_.begin(), keyTexts_.end());
    return std::adjacent_find(keyTexts_.begin(), keyTexts_.end()) == keyTexts_.end();
  }

  // The marker and count of object `index`, each byte inside the object area.
  bool header(std::uint64_t index, Object& object) const {
    ByteCursor entry = ByteCursor(offsets_).at(index * offsetSize_);
    std::uint64_t offset = 0;
    if (!entry.readBigEndian(offsetSize_, offset)) return false;
    if (offset < kBinaryPropertyListMagic.size()) return false;
    object.body = ByteCursor(objects_).at(offset);
    std::uint8_t marker = 0;
    if (!object.body.read(marker)) return false;
    object.kind = marker >> 4;
    object.low = marker & 0x0F;
    object.count = object.low;
    const bool counted = object.kind == kData || object.kind == kAsciiString ||
                         object.kind == kUtf16String || object.kind == kArray ||
                         object.kind == kDictionary;
    if (counted && object.low == 0x0F) {
      // The count follows as an integer object of 1, 2, 4 or 8 bytes.
      std::uint8_t countMarker = 0;
      if (!object.body.read(countMarker)) return false;
      if ((countMarker >> 4) != kInteger || (countMarker & 0x0F) > 3) return false;
      if (!object.body.readBigEndian(std::size_t{1} << (countMarker & 0x0F), object.count)) {
        return false;
      }
    }
    return true;
  }

  // Checks a leaf object and gives its payload size in `bytes`.
  bool leafIsSafe(Object& object, std::uint64_t& bytes) {
    ByteCursor& body = object.body;
    std::span<const std::uint8_t> content;
    bytes = 0;
    switch (object.kind) {
      case kSimple:
        return object.low == 0x08 || object.low == 0x09;  // false, true
      case kInteger:
        return object.low <= 4 && body.skip(std::size_t{1} << object.low);
      case kReal:
        return (object.low == 2 || object.low == 3) && body.skip(std::size_t{1} << object.low);
      case kDate: {
        std::uint64_t bits = 0;
        if (object.low != 3 || !body.readBigEndian(8, bits)) return false;
        // libplist hands dates out as 32-bit seconds.
        const double seconds = std::bit_cast<double>(bits);
        return std::isfinite(seconds) && seconds > -2147483649.0 && seconds < 2147483648.0;
      }
      case kData:
        bytes = object.count;
        return body.take(object.count, content) && scan(object.count);
      case kAsciiString:
        bytes = object.count;
        if (!body.take(object.count, content) || !scan(object.count)) return false;
        for (std::uint8_t c : content) {
          if (c == 0 || c > 0x7F) return false;
        }
        return true;
      case kUtf16String: {
        if (object.count > body.remaining() / 2) return false;
        bytes = object.count * 2;
        if (!scan(bytes)) return false;
        bool expectLow = false;
        for (std::uint64_t i = 0; i < object.count; ++i) {
          std::uint64_t unit = 0;
          body.readBigEndian(2, unit);
          const bool high = unit >= 0xD800 && unit <= 0xDBFF;
          const bool low = unit >= 0xDC00 && unit <= 0xDFFF;
          // U+FEFF as well: Foundation's UTF-8 decoding drops a leading byte
          // order mark, so the text could read otherwise on the way back.
          if (unit == 0 || unit == 0xFEFF || expectLow != low) return false;
          expectLow = high;
        }
        return !expectLow;
      }
      default:
        return false;  // sets, keyed-archive UIDs, nulls and unknown markers
    }
  }

  // Counts bytes about to be scanned, so that overlapping objects cannot make
  // the check itself slow.
  bool scan(std::uint64_t bytes) {
    addCapped(scanned_, bytes, kPropertyListMaxPayloadBytes);
    return scanned_ <= kPropertyListMaxPayloadBytes;
  }

  bool visit(std::uint64_t index, bool isKey) {
    if (index >= objectCount_) return false;
    Record& record = records_[index];
    if (record.state == State::open) return false;  // a cycle
    if (record.state == State::done) {
      return (!isKey || isString(index)) && add(record.values, record.payload);
    }
    Object object;
    if (!header(index, object)) return false;
    if (isKey && object.kind != kAsciiString && object.kind != kUtf16String) return false;
    if (object.kind == kArray || object.kind == kDictionary) {
      const std::uint64_t perEntry = object.kind == kDictionary ? 2 * refSize_ : refSize_;
      if (object.count > object.body.remaining() / perEntry) return false;
      if (stack_.size() >= kPropertyListMaxDepth) return false;
      std::span<const std::uint8_t> refs;
      object.body.take(object.count * perEntry, refs);
      record.state = State::open;
      // Built in place: a copied frame costs more than the rest of a visit.
      Frame& frame = stack_.emplace_back();
      frame.index = index;
      frame.refs = ByteCursor(refs);
      frame.references = object.kind == kDictionary ? 2 * object.count : object.count;
      frame.keys = object.kind == kDictionary ? object.count : 0;
      return true;
    }
    std::uint64_t bytes = 0;
    if (!leafIsSafe(object, bytes)) return false;
    record = {1, static_cast<std::uint32_t>(bytes), State::done, 0};
    return add(1, bytes);
  }

  bool isString(std::uint64_t index) const {
    Object object;
    return header(index, object) && (object.kind == kAsciiString || object.kind == kUtf16String);
  }

  // Adds a finished child's expansion to the open container, if any.
  bool add(std::uint64_t values, std::uint64_t payload) {
    if (stack_.empty()) return true;
    Frame& top = stack_.back();
    addCapped(top.values, values, kPropertyListMaxValues);
    addCapped(top.payload, payload, kPropertyListMaxPayloadBytes);
    return top.values <= kPropertyListMaxValues && top.payload <= kPropertyListMaxPayloadBytes;
  }

  // Closes the innermost container and adds its expansion to its parent.
  bool finish() {
    const std::uint64_t index = stack_.back().index;
    const std::uint64_t values = stack_.back().values;
    const std::uint64_t payload = stack_.back().payload;
    stack_.pop_back();
    records_[index] = {static_cast<std::uint32_t>(values), static_cast<std::uint32_t>(payload),
                       State::done, 0};
    return add(values, payload);
  }

  std::span<const std::uint8_t> bytes_;
  std::span<const std::uint8_t> objects_;  // from the start to the offset table
  std::span<const std::uint8_t> offsets_;  // the offset table
  std::size_t offsetSize_ = 0;
  std::size_t refSize_ = 0;
  std::uint64_t objectCount_ = 0;
  std::uint64_t root_ = 0;
  std::vector<Record> records_;
  std::vector<Frame> stack_;
  std::uint64_t referencesRead_ = 0;
  std::uint64_t scanned_ = 0;
  std::unordered_map<std::string, std::uint32_t> texts_;
  std::vector<std::uint32_t> keyTexts_;  // of the dictionary whose keys are read
};

}  // namespace

bool binaryPropertyListIsSafe(std::span<const std::uint8_t> bytes) {
  return BinaryCheck(bytes).run();
}

}  // namespace uk::platform

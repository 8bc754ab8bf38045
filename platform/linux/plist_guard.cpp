// The pre-check of property-list bytes before libplist parses them: one pass
// over XML text, and an iterative walk of the binary object graph.

#include "platform/linux/plist_guard.h"

#include <glib.h>

#include <bit>
#include <cmath>
#include <cstring>
#include <string_view>
#include <vector>

namespace uk::platform {
namespace {

// ---------------------------------------------------------------------------
// Binary ("bplist00")

constexpr std::string_view kBinaryMagic = "bplist00";
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

std::uint64_t readBigEndian(const std::uint8_t* p, std::size_t size) {
  std::uint64_t value = 0;
  for (std::size_t i = 0; i < size; ++i) value = (value << 8) | p[i];
  return value;
}

// Adds with saturation just above the limit, so sums never wrap.
void addCapped(std::uint64_t& total, std::uint64_t amount, std::uint64_t limit) {
  total = (amount > limit || total + amount > limit) ? limit + 1 : total + amount;
}

class BinaryCheck {
 public:
  explicit BinaryCheck(std::span<const std::uint8_t> bytes) : bytes_(bytes) {}

  bool run() {
    if (!readTrailer()) return false;
    state_.assign(objectCount_, State::unseen);
    values_.assign(objectCount_, 0);
    payload_.assign(objectCount_, 0);
    if (!visit(root_, false)) return false;
    while (!stack_.empty()) {
      Frame& top = stack_.back();
      if (top.next == top.references) {
        if (!finish()) return false;
        continue;
      }
      const bool isKey = top.next < top.keys;
      const std::uint64_t child = readBigEndian(top.refs + top.next * refSize_, refSize_);
      ++top.next;
      if (++referencesRead_ > kPropertyListMaxValues) return false;
      if (!visit(child, isKey)) return false;
    }
    return true;
  }

 private:
  enum class State : std::uint8_t { unseen, open, done };

  struct Object {
    std::uint8_t kind = 0;
    std::uint8_t low = 0;     // the marker's low nibble
    std::uint64_t count = 0;  // bytes, UTF-16 units or entries
    std::uint64_t body = 0;   // position after the marker and any count
  };

  // A container being walked: its references are read one at a time.
  struct Frame {
    std::uint64_t index = 0;
    const std::uint8_t* refs = nullptr;
    std::uint64_t references = 0;  // all references: keys, then values
    std::uint64_t keys = 0;
    std::uint64_t next = 0;
    std::uint64_t values = 1;  // this container and everything below it
    std::uint64_t payload = 0;
  };

  bool readTrailer() {
    if (bytes_.size() < kBinaryMagic.size() + kTrailerSize) return false;
    const std::uint8_t* trailer = bytes_.data() + bytes_.size() - kTrailerSize;
    offsetSize_ = trailer[6];
    refSize_ = trailer[7];
    const std::uint64_t objectCount = readBigEndian(trailer + 8, 8);
    root_ = readBigEndian(trailer + 16, 8);
    tableOffset_ = readBigEndian(trailer + 24, 8);
    if (offsetSize_ < 1 || offsetSize_ > 8 || refSize_ < 1 || refSize_ > 8) return false;
    if (objectCount == 0 || objectCount > kPropertyListMaxValues || root_ >= objectCount) {
      return false;
    }
    const std::uint64_t end = bytes_.size() - kTrailerSize;
    if (tableOffset_ < kBinaryMagic.size() || tableOffset_ >= end) return false;
    if (objectCount > (end - tableOffset_) / offsetSize_) return false;
    objectCount_ = objectCount;
    return true;
  }

  // The marker and count of object `index`, each byte inside the object area.
  bool header(std::uint64_t index, Object& object) const {
    const std::uint64_t offset =
        readBigEndian(bytes_.data() + tableOffset_ + index * offsetSize_, offsetSize_);
    if (offset < kBinaryMagic.size() || offset >= tableOffset_) return false;
    const std::uint8_t marker = bytes_[offset];
    object.kind = marker >> 4;
    object.low = marker & 0x0F;
    object.count = object.low;
    object.body = offset + 1;
    const bool counted = object.kind == kData || object.kind == kAsciiString ||
                         object.kind == kUtf16String || object.kind == kArray ||
                         object.kind == kDictionary;
    if (counted && object.low == 0x0F) {
      // The count follows as an integer object of 1, 2, 4 or 8 bytes.
      if (object.body >= tableOffset_) return false;
      const std::uint8_t countMarker = bytes_[object.body];
      if ((countMarker >> 4) != kInteger || (countMarker & 0x0F) > 3) return false;
      const std::size_t size = std::size_t{1} << (countMarker & 0x0F);
      if (size > tableOffset_ - object.body - 1) return false;
      object.count = readBigEndian(bytes_.data() + object.body + 1, size);
      object.body += 1 + size;
    }
    return true;
  }

  std::uint64_t room(const Object& object) const { return tableOffset_ - object.body; }

  // Checks a leaf object and gives its payload size in `bytes`.
  bool leafIsSafe(const Object& object, std::uint64_t& bytes) {
    const std::uint8_t* body = bytes_.data() + object.body;
    switch (object.kind) {
      case kSimple:
        bytes = 0;
        return object.low == 0x08 || object.low == 0x09;  // false, true
      case kInteger:
        bytes = 0;
        return object.low <= 4 && (std::uint64_t{1} << object.low) <= room(object);
      case kReal:
        bytes = 0;
        return (object.low == 2 || object.low == 3) &&
               (std::uint64_t{1} << object.low) <= room(object);
      case kDate: {
        bytes = 0;
        if (object.low != 3 || room(object) < 8) return false;
        // libplist hands dates out as 32-bit seconds.
        const double seconds = std::bit_cast<double>(readBigEndian(body, 8));
        return std::isfinite(seconds) && seconds > -2147483649.0 && seconds < 2147483648.0;
      }
      case kData:
        bytes = object.count;
        return object.count <= room(object) && scan(object.count);
      case kAsciiString:
        bytes = object.count;
        if (object.count > room(object) || !scan(object.count)) return false;
        for (std::uint64_t i = 0; i < object.count; ++i) {
          if (body[i] == 0 || body[i] > 0x7F) return false;
        }
        return true;
      case kUtf16String: {
        bytes = object.count * 2;
        if (object.count > room(object) / 2 || !scan(bytes)) return false;
        bool expectLow = false;
        for (std::uint64_t i = 0; i < object.count; ++i) {
          const std::uint64_t unit = readBigEndian(body + 2 * i, 2);
          const bool high = unit >= 0xD800 && unit <= 0xDBFF;
          const bool low = unit >= 0xDC00 && unit <= 0xDFFF;
          if (unit == 0 || expectLow != low) return false;
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
    if (state_[index] == State::open) return false;  // a cycle
    if (state_[index] == State::done) {
      return (!isKey || isString(index)) && add(values_[index], payload_[index]);
    }
    Object object;
    if (!header(index, object)) return false;
    if (isKey && object.kind != kAsciiString && object.kind != kUtf16String) return false;
    if (object.kind == kArray || object.kind == kDictionary) {
      const std::uint64_t perEntry = object.kind == kDictionary ? 2 * refSize_ : refSize_;
      if (object.count > room(object) / perEntry) return false;
      if (stack_.size() >= kPropertyListMaxDepth) return false;
      Frame frame;
      frame.index = index;
      frame.refs = bytes_.data() + object.body;
      frame.references = object.kind == kDictionary ? 2 * object.count : object.count;
      frame.keys = object.kind == kDictionary ? object.count : 0;
      state_[index] = State::open;
      stack_.push_back(frame);
      return true;
    }
    std::uint64_t bytes = 0;
    if (!leafIsSafe(object, bytes)) return false;
    state_[index] = State::done;
    values_[index] = 1;
    payload_[index] = bytes;
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
    const Frame done = stack_.back();
    stack_.pop_back();
    state_[done.index] = State::done;
    values_[done.index] = done.values;
    payload_[done.index] = done.payload;
    return add(done.values, done.payload);
  }

  std::span<const std::uint8_t> bytes_;
  std::uint8_t offsetSize_ = 0;
  std::uint8_t refSize_ = 0;
  std::uint64_t objectCount_ = 0;
  std::uint64_t root_ = 0;
  std::uint64_t tableOffset_ = 0;
  std::vector<State> state_;
  std::vector<std::uint64_t> values_;
  std::vector<std::uint64_t> payload_;
  std::vector<Frame> stack_;
  std::uint64_t referencesRead_ = 0;
  std::uint64_t scanned_ = 0;
};

}  // namespace

bool binaryPropertyListIsSafe(std::span<const std::uint8_t> bytes) {
  return BinaryCheck(bytes).run();
}

bool propertyListIsSafeToParse(std::span<const std::uint8_t> bytes) {
  const std::string_view text(reinterpret_cast<const char*>(bytes.data()), bytes.size());
  if (text.starts_with(kBinaryMagic)) return binaryPropertyListIsSafe(bytes);
  return xmlPropertyListIsSafe(bytes);
}

}  // namespace uk::platform

#pragma once

// A read position over a span of bytes whose reads never pass the end: a
// read that would run out moves to the end, reads nothing and says so.

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

namespace uk::platform {

class ByteCursor {
 public:
  ByteCursor() = default;
  explicit ByteCursor(std::span<const std::uint8_t> bytes) : bytes_(bytes) {}

  std::size_t position() const { return position_; }
  std::size_t remaining() const { return bytes_.size() - position_; }
  bool atEnd() const { return position_ == bytes_.size(); }
  // True once a read or a move asked for more than was left.
  bool ranOut() const { return ranOut_; }

  // The next byte, or -1 at the end.
  int peek() const { return atEnd() ? -1 : bytes_[position_]; }
  // The byte `ahead` places after the next one, or -1 past the end.
  int peek(std::size_t ahead) const { return ahead < remaining() ? bytes_[position_ + ahead] : -1; }
  bool lookingAt(std::string_view literal) const {
    return literal.size() <= remaining() &&
           std::string_view(reinterpret_cast<const char*>(bytes_.data()) + position_,
                            literal.size()) == literal;
  }

  // The bytes from `start` to `end` (both positions already passed), as text.
  std::string_view text(std::size_t start, std::size_t end) const {
    return std::string_view(reinterpret_cast<const char*>(bytes_.data()) + start, end - start);
  }

  // Moves `count` bytes on; false, at the end, when fewer are left.
  bool skip(std::size_t count) {
    if (count > remaining()) return runOut();
    position_ += count;
    return true;
  }
  // Moves past `literal` when the bytes spell it; otherwise stays and gives
  // false (a mismatch is not running out).
  bool skip(std::string_view literal) {
    if (!lookingAt(literal)) return false;
    position_ += literal.size();
    return true;
  }
  // Moves just past the next `literal`; false, at the end, when there is none.
  bool skipPast(std::string_view literal) {
    const std::string_view rest(reinterpret_cast<const char*>(bytes_.data()) + position_,
                                remaining());
    const std::size_t found = rest.find(literal);
    if (found == std::string_view::npos) return runOut();
    position_ += found + literal.size();
    return true;
  }

  bool read(std::uint8_t& value) {
    if (atEnd()) return runOut();
    value = bytes_[position_++];
    return true;
  }
  // An unsigned big-endian integer of `size` bytes (at most 8).
  bool readBigEndian(std::size_t size, std::uint64_t& value) {
    if (size > 8 || size > remaining()) return runOut();
    value = 0;
    for (std::size_t i = 0; i < size; ++i) value = (value << 8) | bytes_[position_ + i];
    position_ += size;
    return true;
  }
  // The next `count` bytes, which the cursor moves past.
  bool take(std::uint64_t count, std::span<const std::uint8_t>& out) {
    if (count > remaining()) return runOut();
    out = bytes_.subspan(position_, static_cast<std::size_t>(count));
    position_ += static_cast<std::size_t>(count);
    return true;
  }

  // A cursor over the same bytes at `offset`; one that has run out when the
  // offset lies past the end.
  ByteCursor at(std::uint64_t offset) const {
    ByteCursor moved(bytes_);
    moved.skip(offset > bytes_.size() ? bytes_.size() + 1 : static_cast<std::size_t>(offset));
    return moved;
  }

 private:
  bool runOut() {
    position_ = bytes_.size();
    ranOut_ = true;
    return false;
  }

  std::span<const std::uint8_t> bytes_;
  std::size_t position_ = 0;
  bool ranOut_ = false;
};

}  // namespace uk::platform

#pragma once

// What a property-list conversion may still produce before it is refused:
// plain C++ shared by every platform's converter, so that all of them charge
// alike against the limits in property_list_limits.h.

#include <cstddef>

#include "platform/property_list_limits.h"

namespace uk::platform {

// Counts every value that a conversion produces, and every string or data
// byte, each time it is produced. A binary property list may name one object
// from many places, and the system's reader hands out that one object each
// time (CoreFoundation's CFBinaryPList.c caches parsed objects by their
// offset), so a file of a few hundred bytes can stand for a tree of 2^64
// values. Charging each use bounds the tree that is built, not the file.
class PropertyListBudget {
 public:
  // Charges an array or dictionary at nesting `depth` (1 for a container at
  // the top). Gives false when the depth passes kPropertyListMaxDepth or the
  // values pass kPropertyListMaxValues; after a false every charge fails.
  bool chargeContainer(std::size_t depth) {
    if (depth > kPropertyListMaxDepth) refused_ = true;
    return charge(0);
  }

  // Charges a leaf value (a dictionary key counts as one) holding
  // `payloadBytes` bytes of string or data. Gives false when the values pass
  // kPropertyListMaxValues or the bytes pass kPropertyListMaxPayloadBytes;
  // after a false every charge fails.
  bool chargeLeaf(std::size_t payloadBytes) { return charge(payloadBytes); }

  // How many more values may be charged; a converter sizes its containers by
  // this, never by a count that the input claims.
  std::size_t valuesLeft() const { return refused_ ? 0 : kPropertyListMaxValues - values_; }

  std::size_t values() const { return values_; }
  std::size_t payloadBytes() const { return payloadBytes_; }

 private:
  bool charge(std::size_t payloadBytes) {
    // Written as comparisons with what is left, so no sum can wrap.
    if (refused_ || values_ == kPropertyListMaxValues ||
        payloadBytes > kPropertyListMaxPayloadBytes - payloadBytes_) {
      refused_ = true;
      return false;
    }
    ++values_;
    payloadBytes_ += payloadBytes;
    return true;
  }

  std::size_t values_ = 0;
  std::size_t payloadBytes_ = 0;
  bool refused_ = false;
};

}  // namespace uk::platform

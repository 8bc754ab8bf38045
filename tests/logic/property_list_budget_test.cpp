// The budget that every property-list converter charges: where each limit
// falls, that a refusal sticks, and that charging each use bounds a walk over
// shared objects.

#include "platform/property_list_budget.h"

#include <gtest/gtest.h>

#include <cstddef>
#include <limits>
#include <vector>

namespace uk::platform {
namespace {

TEST(PropertyListBudget, EachLimitAdmitsItsValueAndRefusesOneMore) {
  struct Case {
    const char* name;
    std::size_t leaves;     // zero-byte leaves charged first
    std::size_t lastBytes;  // then one leaf with this many bytes
    bool accepted;
  } cases[] = {
      {"values at the limit", kPropertyListMaxValues - 1, 0, true},
      {"one value over", kPropertyListMaxValues, 0, false},
      {"bytes at the limit", 0, kPropertyListMaxPayloadBytes, true},
      {"one byte over", 0, kPropertyListMaxPayloadBytes + 1, false},
      {"a length that would wrap a sum", 0, std::numeric_limits<std::size_t>::max(), false},
  };
  for (const Case& c : cases) {
    PropertyListBudget budget;
    for (std::size_t i = 0; i < c.leaves; ++i) ASSERT_TRUE(budget.chargeLeaf(0)) << c.name << i;
    EXPECT_EQ(budget.chargeLeaf(c.lastBytes), c.accepted) << c.name;
  }
}

TEST(PropertyListBudget, BytesAddUpAcrossLeavesWithoutWrapping) {
  PropertyListBudget budget;
  ASSERT_TRUE(budget.chargeLeaf(kPropertyListMaxPayloadBytes - 10));
  ASSERT_TRUE(budget.chargeLeaf(10));
  EXPECT_EQ(budget.payloadBytes(), kPropertyListMaxPayloadBytes);
  EXPECT_FALSE(budget.chargeLeaf(1));

  PropertyListBudget other;
  ASSERT_TRUE(other.chargeLeaf(1));
  EXPECT_FALSE(other.chargeLeaf(std::numeric_limits<std::size_t>::max()));
}

TEST(PropertyListBudget, ContainersCountAsValuesAndNestOnlySoDeep) {
  PropertyListBudget budget;
  for (std::size_t depth = 1; depth <= kPropertyListMaxDepth; ++depth) {
    ASSERT_TRUE(budget.chargeContainer(depth)) << depth;
  }
  EXPECT_EQ(budget.values(), kPropertyListMaxDepth);
  EXPECT_FALSE(budget.chargeContainer(kPropertyListMaxDepth + 1));

  PropertyListBudget full;
  for (std::size_t i = 0; i < kPropertyListMaxValues; ++i) ASSERT_TRUE(full.chargeLeaf(0));
  EXPECT_FALSE(full.chargeContainer(1));
}

TEST(PropertyListBudget, ARefusalSticks) {
  PropertyListBudget tooDeep;
  EXPECT_FALSE(tooDeep.chargeContainer(kPropertyListMaxDepth + 1));
  EXPECT_FALSE(tooDeep.chargeLeaf(0));
  EXPECT_FALSE(tooDeep.chargeContainer(1));
  EXPECT_EQ(tooDeep.valuesLeft(), 0u);

  PropertyListBudget tooLarge;
  EXPECT_FALSE(tooLarge.chargeLeaf(kPropertyListMaxPayloadBytes + 1));
  EXPECT_FALSE(tooLarge.chargeLeaf(0));
  EXPECT_EQ(tooLarge.valuesLeft(), 0u);
}

TEST(PropertyListBudget, ValuesLeftShrinksWithEachCharge) {
  PropertyListBudget budget;
  EXPECT_EQ(budget.valuesLeft(), kPropertyListMaxValues);
  ASSERT_TRUE(budget.chargeContainer(1));
  ASSERT_TRUE(budget.chargeLeaf(3));
  EXPECT_EQ(budget.valuesLeft(), kPropertyListMaxValues - 2);
  EXPECT_EQ(budget.payloadBytes(), 3u);
}

// A parsed binary list as the system reader gives it: one object per offset,
// shared by every container that names it.
struct Node {
  std::vector<const Node*> children;
};

// `arrays` arrays, each holding the next one twice, the last holding a leaf
// twice: 2^(arrays + 1) - 1 values as a tree, arrays + 1 objects.
std::vector<Node> sharedChain(std::size_t arrays) {
  std::vector<Node> nodes(arrays + 1);
  for (std::size_t i = 0; i < arrays; ++i) nodes[i].children = {&nodes[i + 1], &nodes[i + 1]};
  return nodes;
}

// Walks the objects as a tree, the way a converter does, charging each use.
bool walk(const Node& node, std::size_t depth, PropertyListBudget& budget, std::size_t& visits) {
  ++visits;
  if (node.children.empty()) return budget.chargeLeaf(1);
  if (!budget.chargeContainer(depth)) return false;
  for (const Node* child : node.children) {
    if (!walk(*child, depth + 1, budget, visits)) return false;
  }
  return true;
}

TEST(PropertyListBudget, StopsAWalkOverExponentiallySharedObjects) {
  const std::vector<Node> nodes = sharedChain(64);  // 2^65 - 1 values as a tree

  PropertyListBudget budget;
  std::size_t visits = 0;
  EXPECT_FALSE(walk(nodes[0], 1, budget, visits));
  EXPECT_EQ(visits, kPropertyListMaxValues + 1);  // the refused one included
}

TEST(PropertyListBudget, AdmitsSharedObjectsThatExpandWithinTheLimits) {
  const std::vector<Node> nodes = sharedChain(16);  // 2^17 - 1 values, shared

  PropertyListBudget budget;
  std::size_t visits = 0;
  EXPECT_TRUE(walk(nodes[0], 1, budget, visits));
  EXPECT_EQ(budget.values(), (std::size_t{1} << 17) - 1);
  EXPECT_EQ(budget.payloadBytes(), std::size_t{1} << 16);  // one byte per use of the leaf
}

}  // namespace
}  // namespace uk::platform

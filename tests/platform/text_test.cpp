// Text equality: canonical equivalence, letter case counting, and invalid
// UTF-8 equal only to its byte-identical twin.

#include <gtest/gtest.h>

#include <string>

#include "platform/platform.h"

namespace uk::platform {
namespace {

using namespace std::string_literals;

struct TextCase {
  std::string name;
  std::string a;
  std::string b;
  bool equal;
};

class TextEquality : public ::testing::TestWithParam<TextCase> {};

TEST_P(TextEquality, ComparesAsCanonicalUnicode) {
  const TextCase& c = GetParam();
  EXPECT_EQ(textEqual(c.a, c.b), c.equal);
  EXPECT_EQ(textEqual(c.b, c.a), c.equal) << "not symmetric";
}

INSTANTIATE_TEST_SUITE_P(
    Table, TextEquality,
    ::testing::Values(
        TextCase{"identical", "test.kellix.Archiver", "test.kellix.Archiver", true},
        TextCase{"different", "Kellix", "Kellik", false},
        TextCase{"composed_and_decomposed", "Caf\xC3\xA9", "Cafe\xCC\x81", true},
        TextCase{"hangul_composed_and_jamo", "\xED\x95\x9C", "\xE1\x84\x92\xE1\x85\xA1\xE1\x86\xAB",
                 true},
        TextCase{"reordered_combining_marks", "a\xCC\x81\xCC\xA3", "a\xCC\xA3\xCC\x81", true},
        // Marks of one combining class keep their order, and a mark of class 0
        // (the variation selector) is a barrier no other mark moves across.
        TextCase{"same_class_marks_in_another_order", "a\xCC\x81\xCC\x80", "a\xCC\x80\xCC\x81",
                 false},
        TextCase{"mark_moved_across_a_variation_selector", "a\xCC\x81\xEF\xB8\x8F",
                 "a\xEF\xB8\x8F\xCC\x81", false},
        TextCase{"leading_byte_order_mark_and_none",
                 "\xEF\xBB\xBF"
                 "APPL",
                 "APPL", false},
        TextCase{"compatibility_form_differs", "\xEF\xAC\x81", "fi", false},  // ligature fi
        TextCase{"letter_case_differs", "Kellix", "kellix", false},
        TextCase{"accented_case_differs", "\xC3\x89", "\xC3\xA9", false},
        TextCase{"trailing_space", "APPL ", "APPL", false}, TextCase{"both_empty", "", "", true},
        TextCase{"empty_and_text", "", "APPL", false},
        // Text that is not valid UTF-8 equals only its byte-identical twin,
        // even where a lenient decoder would read the same characters.
        TextCase{"invalid_byte_twins", "Kellix\xFF", "Kellix\xFF", true},
        TextCase{"invalid_byte_and_replacement", "Kellix\xFF", "Kellix\xEF\xBF\xBD", false},
        TextCase{"lone_surrogate_twins", "a\xED\xA0\x80", "a\xED\xA0\x80", true},
        TextCase{"lone_surrogate_after_composed_and_decomposed", "Caf\xC3\xA9\xED\xA0\x80",
                 "Cafe\xCC\x81\xED\xA0\x80", false},
        TextCase{"encoded_surrogate_pair_and_character", "\xED\xA0\xBD\xED\xB3\xA6",
                 "\xF0\x9F\x93\xA6", false},
        TextCase{"overlong_slash_and_slash", "/Applications\xC0\xAF", "/Applications/", false},
        TextCase{"overlong_nul_and_nothing", "APPL\xC0\x80", "APPL", false},
        TextCase{"five_byte_form_and_character", "\xF8\x88\x80\x80\x80", "\xF0\x88\x80\x80", false},
        TextCase{"six_byte_form_twins", "\xFC\x84\x80\x80\x80\x80", "\xFC\x84\x80\x80\x80\x80",
                 true},
        TextCase{"beyond_unicode_and_replacement", "\xF4\x90\x80\x80", "\xEF\xBF\xBD", false},
        TextCase{"embedded_nul_and_prefix", "test.kellix.Archiver\0x"s, "test.kellix.Archiver",
                 false},
        TextCase{"embedded_nul_twins", "APPL\0"s, "APPL\0"s, true},
        TextCase{"embedded_nul_composed_and_decomposed", "Caf\xC3\xA9\0"s, "Cafe\xCC\x81\0"s,
                 false},
        TextCase{"truncated_sequence_and_prefix", "Kellix\xC3", "Kellix", false}),
    [](const auto& info) { return info.param.name; });

}  // namespace
}  // namespace uk::platform

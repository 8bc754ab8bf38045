// Alerts without a display: the alert driver runs on pipes with no DISPLAY, so
// runModal falls back to the terminal; the tests read its exact output and
// feed it answers.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "harness.h"

namespace uk::test {
namespace {

// Options beside their values.
// clang-format off
const std::vector<std::string> kNotFound = {
    "--message", "No verified Kellix installation found",  //
    "--informative",
    "The uninstaller looked for Kellix.app in Applications and in your home Applications "
    "folder.",
    "--button", "OK"};

const std::vector<std::string> kConfirmation = {
    "--message", "Move Kellix to the Trash?",  //
    "--informative",
    "Review the installed copies below. Your .kelx archives stay where they are.\n\n"
    "/Applications/Kellix.app\n/home/someone/Applications/Kellix.app",
    "--button", "Cancel", "--return",  //
    "--button", "Move to Trash", "--destructive"};

// Return chooses the first button, Escape the second ("Cancel").
const std::vector<std::string> kOkThenCancel = {
    "--message", "Go on?", "--button", "OK", "--button", "Cancel"};
// clang-format on

const std::string kConfirmationText =
    "Move Kellix to the Trash?\n"
    "\n"
    "Review the installed copies below. Your .kelx archives stay where they are.\n"
    "\n"
    "/Applications/Kellix.app\n"
    "/home/someone/Applications/Kellix.app\n"
    "\n"
    "  1. Cancel (Return)\n"
    "  2. Move to Trash\n";
const std::string kConfirmationPrompt = "Choose 1-2 (Return: 1): ";
const std::string kConfirmationHint = "Type a number from 1 to 2, or just press Return.\n";

struct OutputCase {
  const char* name;
  std::vector<std::string> arguments;
  std::string input;
  std::string output;
  long answer;
};

void PrintTo(const OutputCase& c, std::ostream* out) { *out << c.name; }

class TerminalAlertOutput : public ::testing::TestWithParam<OutputCase> {};

TEST_P(TerminalAlertOutput, IsExactlyTheAlertThenThePrompt) {
  const OutputCase& c = GetParam();
  const TerminalRun run = runDriverWithoutDisplay(c.arguments, c.input);
  EXPECT_EQ(run.output, c.output);
  EXPECT_EQ(run.answer, c.answer);
  EXPECT_TRUE(run.exitedNormally);
}

INSTANTIATE_TEST_SUITE_P(
    Alerts, TerminalAlertOutput,
    ::testing::Values(
        OutputCase{"OneButtonWithoutInformativeText",
                   {"--message", "Done", "--button", "OK"},
                   "\n",
                   "Done\n"
                   "\n"
                   "  1. OK (Return)\n"
                   "Choose 1 (Return: 1): \n",
                   1000},
        OutputCase{"NotFound", kNotFound, "\n",
                   "No verified Kellix installation found\n"
                   "\n"
                   "The uninstaller looked for Kellix.app in Applications and in your home "
                   "Applications folder.\n"
                   "\n"
                   "  1. OK (Return)\n"
                   "Choose 1 (Return: 1): \n",
                   1000},
        OutputCase{"Confirmation", kConfirmation, "2\n",
                   kConfirmationText + kConfirmationPrompt + "\n", 1001},
        OutputCase{"ConfirmationAskedAgainAfterAWrongAnswer", kConfirmation, "x\n\n",
                   kConfirmationText + kConfirmationPrompt + "\n" + kConfirmationHint +
                       kConfirmationPrompt + "\n",
                   1000},
        OutputCase{"ReturnKeyOnTheSecondButton",
                   {"--message", "Replace it?", "--informative", "Line one\nline two", "--button",
                    "Keep", "--button", "Replace", "--return", "--button", "Stop"},
                   "\n",
                   "Replace it?\n"
                   "\n"
                   "Line one\n"
                   "line two\n"
                   "\n"
                   "  1. Keep\n"
                   "  2. Replace (Return)\n"
                   "  3. Stop\n"
                   "Choose 1-3 (Return: 2): \n",
                   1001},
        OutputCase{"EmptyTitleAndUnderscoresShownAsGiven",
                   {"--message", "", "--button", "_Yes"},
                   "",
                   "\n"
                   "\n"
                   "  1. _Yes (Return)\n"
                   "Choose 1 (Return: 1): \n",
                   1000},
        // A name can hold any byte but "/" and NUL: none of them may steer
        // the terminal. Controls are written as \xHH or \u{H}, a backslash
        // doubled, so a name that spells an escape out reads differently.
        OutputCase{
            "ControlCharactersShownEscaped",
            {"--message", "Title\x1b]0;owned\x07 set", "--informative",
             "/home/a\rb/\x1b[2J\x1b[1A\tc\bd\x7f\x01\x1f\nsecond line", "--button", "O\x1b[8mK"},
            "\n",
            "Title\\x1b]0;owned\\x07 set\n"
            "\n"
            "/home/a\\x0db/\\x1b[2J\\x1b[1A\\x09c\\x08d\\x7f\\x01\\x1f\n"
            "second line\n"
            "\n"
            "  1. O\\x1b[8mK (Return)\n"
            "Choose 1 (Return: 1): \n",
            1000},
        OutputCase{"C1ControlsBidiOverridesAndInvalidBytesShownEscaped",
                   {"--message", "Done", "--informative",
                    "csi \xC2\x9B"
                    "2J nel \xC2\x85 rlo \xE2\x80\xAE"
                    "ppa.xilleK "
                    "bytes \xFF\xFE overlong \xC0\xAF surrogate \xED\xA0\x80 cut \xE2\x82",
                    "--button", "OK"},
                   "\n",
                   "Done\n"
                   "\n"
                   "csi \\u{9b}2J nel \\u{85} rlo \\u{202e}ppa.xilleK bytes \\xff\\xfe overlong "
                   "\\xc0\\xaf surrogate \\xed\\xa0\\x80 cut \\xe2\\x82\n"
                   "\n"
                   "  1. OK (Return)\n"
                   "Choose 1 (Return: 1): \n",
                   1000},
        OutputCase{"BackslashDoubledSoAnEscapeCannotBeForged",
                   {"--message", "Done", "--informative", "/home/a\\x1bb\\", "--button", "OK"},
                   "\n",
                   "Done\n"
                   "\n"
                   "/home/a\\\\x1bb\\\\\n"
                   "\n"
                   "  1. OK (Return)\n"
                   "Choose 1 (Return: 1): \n",
                   1000},
        OutputCase{
            "PrintableTextInAnyScriptShownAsItIs",
            {"--message", "Caf\xC3\xA9 Cafe\xCC\x81", "--informative",
             "/Users/\xE5\xB1\xB1\xE7\x94\xB0 \xCE\x95\xCE\xBB\xCE\xBB\xCE\xAC\xCE\xB4\xCE\xB1 "
             "\xD7\xA9\xD7\x9C\xD7\x95\xD7\x9D  two spaces\xC2\xA0nbsp \xF0\x9F\x99\x82 "
             "~!@#$%^&*()_+{}|:\"<>?`-=[];',./",
             "--button",
             "\xC3\x9C"
             "bernehmen"},
            "\n",
            "Caf\xC3\xA9 Cafe\xCC\x81\n"
            "\n"
            "/Users/\xE5\xB1\xB1\xE7\x94\xB0 \xCE\x95\xCE\xBB\xCE\xBB\xCE\xAC\xCE\xB4\xCE\xB1 "
            "\xD7\xA9\xD7\x9C\xD7\x95\xD7\x9D  two spaces\xC2\xA0nbsp \xF0\x9F\x99\x82 "
            "~!@#$%^&*()_+{}|:\"<>?`-=[];',./\n"
            "\n"
            "  1. \xC3\x9C"
            "bernehmen (Return)\n"
            "Choose 1 (Return: 1): \n",
            1000},
        OutputCase{"NoButtonsMeansOneOK",
                   {"--message", "Done"},
                   "1\n",
                   "Done\n"
                   "\n"
                   "  1. OK (Return)\n"
                   "Choose 1 (Return: 1): \n",
                   1000}),
    [](const auto& info) { return std::string(info.param.name); });

struct AnswerCase {
  const char* name;
  std::vector<std::string> arguments;
  std::string input;
  long answer;
  int timesAskedAgain;
};

void PrintTo(const AnswerCase& c, std::ostream* out) { *out << c.name; }

class TerminalAlertAnswer : public ::testing::TestWithParam<AnswerCase> {};

TEST_P(TerminalAlertAnswer, ChoosesTheButton) {
  const AnswerCase& c = GetParam();
  const TerminalRun run = runDriverWithoutDisplay(c.arguments, c.input);
  EXPECT_EQ(run.answer, c.answer);
  EXPECT_TRUE(run.exitedNormally);

  // The alert once, then one hint and one prompt per answer that was refused.
  std::string expected = kConfirmationText;
  if (c.arguments == kOkThenCancel) {
    expected = "Go on?\n\n  1. OK (Return)\n  2. Cancel\n";
  }
  expected += kConfirmationPrompt + "\n";
  for (int i = 0; i < c.timesAskedAgain; ++i) {
    expected += kConfirmationHint + kConfirmationPrompt + "\n";
  }
  EXPECT_EQ(run.output, expected);
}

INSTANTIATE_TEST_SUITE_P(
    Alerts, TerminalAlertAnswer,
    ::testing::Values(
        AnswerCase{"EmptyLineChoosesReturnButton", kConfirmation, "\n", 1000, 0},
        AnswerCase{"EmptyLineChoosesReturnButtonNotCancel", kOkThenCancel, "\n", 1000, 0},
        AnswerCase{"FirstByNumber", kConfirmation, "1\n", 1000, 0},
        AnswerCase{"SecondByNumber", kConfirmation, "2\n", 1001, 0},
        AnswerCase{"EndOfInputChoosesCancel", kConfirmation, "", 1000, 0},
        AnswerCase{"EndOfInputChoosesCancelNotTheFirst", kOkThenCancel, "", 1001, 0},
        AnswerCase{"EndOfInputAfterWrongAnswersChoosesCancel", kOkThenCancel, "x\n0\n", 1001, 2},
        AnswerCase{"LastLineWithoutLineBreak", kConfirmation, "2", 1001, 0},
        AnswerCase{"WordThenNumber", kConfirmation, "x\n2\n", 1001, 1},
        AnswerCase{"OutOfRangeThenNumber", kConfirmation, "9\n3\n0\n2\n", 1001, 3},
        AnswerCase{"SignsAndTrailingLettersRefused", kConfirmation, "+2\n-1\n2x\n2 2\n2\n", 1001,
                   4},
        AnswerCase{"HugeNumberRefused", kConfirmation, "18446744073709551617\n2\n", 1001, 1},
        AnswerCase{"SpacesAroundNumberIgnored", kConfirmation, " 2 \n", 1001, 0},
        AnswerCase{"TabsAroundNumberIgnored", kConfirmation, "\t2\t\n", 1001, 0},
        AnswerCase{"CarriageReturnLineFeed", kConfirmation, "2\r\n", 1001, 0},
        AnswerCase{"CarriageReturnLineFeedEmptyLine", kConfirmation, "\r\n", 1000, 0},
        AnswerCase{"BlankLineChoosesReturnButton", kConfirmation, "   \n", 1000, 0},
        AnswerCase{"NulByteRefused", kConfirmation, std::string("2\0\n2\n", 5), 1001, 1},
        AnswerCase{"VeryLongLineRefused", kConfirmation,
                   std::string(8 * 1024 * 1024, '2') + "\n2\n", 1001, 1},
        AnswerCase{"VeryLongLineOfSpacesRefused", kConfirmation,
                   std::string(100'000, ' ') + "1\n2\n", 1001, 1}),
    [](const auto& info) { return std::string(info.param.name); });

// An alert that cannot be seen is not answered: with standard output full or
// its reader gone, the "2" waiting on standard input is never read, and the
// alert ends as end of input does ("Cancel" in the confirmation, "OK" in a
// report). The driver still exits normally.
TEST(TerminalAlertUnseen, ReadsNoAnswerWhenTheQuestionCannotBeWritten) {
  const struct {
    const char* name;
    UnwritableOutput output;
    std::vector<std::string> arguments;
    std::string input;  // an answer that, read, would choose another button
    long answer;
  } cases[] = {
      {"confirmation on /dev/full", UnwritableOutput::fullDevice, kConfirmation, "2\n", 1000},
      {"confirmation on a pipe without reader", UnwritableOutput::closedPipe, kConfirmation, "2\n",
       1000},
      {"OK then Cancel on /dev/full", UnwritableOutput::fullDevice, kOkThenCancel, "1\n", 1001},
      {"one button on a pipe without reader", UnwritableOutput::closedPipe, kNotFound, "1\n", 1000},
  };
  for (const auto& c : cases) {
    const TerminalRun run = runDriverWithUnwritableOutput(c.arguments, c.input, c.output);
    EXPECT_EQ(run.answer, c.answer) << c.name;
    EXPECT_TRUE(run.exitedNormally) << c.name;
  }
}

// On a real terminal the typed line break is the terminal's own echo, so the
// alert adds none; after end of input (Control-D) nothing was echoed and it
// adds one.
TEST(TerminalAlertOnATerminal, KeepsLinesWithTheTerminalsEcho) {
  const std::vector<std::string> arguments = {"--message", "Go on?",   "--button",
                                              "OK",        "--button", "Cancel"};
  const std::string shown = "Go on?\r\n\r\n  1. OK (Return)\r\n  2. Cancel\r\n";
  const std::string prompt = "Choose 1-2 (Return: 1): ";
  const struct {
    std::string typed;
    std::string echoAndAfter;
    long answer;
  } cases[] = {
      {"2\n", "2\r\n", 1001},
      {"\n", "\r\n", 1000},
      {"x\n2\n", "x\r\n2\r\nType a number from 1 to 2, or just press Return.\r\n" + prompt, 1001},
      {"\x04", "\r\n", 1001},  // Control-D: end of input, so "Cancel"
  };
  for (const auto& c : cases) {
    const TerminalRun run = runDriverOnTerminal(arguments, prompt, c.typed);
    EXPECT_EQ(run.output, shown + prompt + c.echoAndAfter) << c.typed;
    EXPECT_EQ(run.answer, c.answer) << c.typed;
    EXPECT_TRUE(run.exitedNormally) << c.typed;
  }
}

}  // namespace
}  // namespace uk::test

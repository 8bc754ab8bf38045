// Alerts on a text terminal, over the standard C++ streams.

#include "platform/linux/alert_terminal.h"

#include <cstddef>
#include <istream>
#include <optional>
#include <ostream>
#include <string>
#include <string_view>

namespace uk::platform::terminal {
namespace {

// Longer answers cannot be a button number; the rest of such a line is read
// and dropped, so a huge line costs no memory.
constexpr std::size_t kMaximumAnswerLength = 64;

struct Answer {
  std::string text;        // at most kMaximumAnswerLength bytes
  bool tooLong = false;    // the line had more than that
  bool endOfLine = false;  // the line ended with a line break, not end of input
};

// Reads one line, or nothing at the end of input.
std::optional<Answer> readAnswer(std::istream& in) {
  std::streambuf* buffer = in.rdbuf();
  Answer answer;
  bool readSomething = false;
  for (;;) {
    const int c = buffer->sbumpc();
    if (c == std::char_traits<char>::eof()) break;
    readSomething = true;
    if (c == '\n') {
      answer.endOfLine = true;
      break;
    }
    if (answer.text.size() < kMaximumAnswerLength) {
      answer.text.push_back(static_cast<char>(c));
    } else {
      answer.tooLong = true;
    }
  }
  if (!readSomething) return std::nullopt;
  return answer;
}

std::string_view trimmed(std::string_view text) {
  constexpr std::string_view kBlank = " \t\r";
  const std::size_t first = text.find_first_not_of(kBlank);
  if (first == std::string_view::npos) return {};
  return text.substr(first, text.find_last_not_of(kBlank) - first + 1);
}

// The index of the button that the answer names, or nothing.
std::optional<std::size_t> chosenIndex(std::string_view answer, std::size_t buttonCount,
                                       std::size_t returnIndex) {
  if (answer.empty()) return returnIndex;
  if (answer.size() > 9) return std::nullopt;  // no overflow below
  std::size_t number = 0;
  for (const char c : answer) {
    if (c < '0' || c > '9') return std::nullopt;
    number = number * 10 + static_cast<std::size_t>(c - '0');
  }
  if (number < 1 || number > buttonCount) return std::nullopt;
  return number - 1;
}

}  // namespace

long runAlert(const Alert& alert, std::istream& in, std::ostream& out, bool inputEchoed) {
  const auto& buttons = alert.buttons();
  const std::size_t returnIndex = alert.returnButtonIndex();
  const std::string count = std::to_string(buttons.size());
  const std::string returnNumber = std::to_string(returnIndex + 1);

  out << alert.messageText() << '\n';
  if (!alert.informativeText().empty()) out << '\n' << alert.informativeText() << '\n';
  out << '\n';
  for (std::size_t i = 0; i < buttons.size(); ++i) {
    out << "  " << i + 1 << ". " << buttons[i].title() << (i == returnIndex ? " (Return)" : "")
        << '\n';
  }
  const std::string range = buttons.size() == 1 ? "1" : "1-" + count;
  const std::string prompt = "Choose " + range + " (Return: " + returnNumber + "): ";
  const std::string hint = buttons.size() == 1
                               ? "Type 1, or just press Return."
                               : "Type a number from 1 to " + count + ", or just press Return.";

  out << prompt << std::flush;
  for (;;) {
    const std::optional<Answer> answer = readAnswer(in);
    // A terminal echoes the line break that ends a typed line; otherwise the
    // output gets its own, so the next text starts on a line of its own.
    if (!inputEchoed || !answer || !answer->endOfLine) out << '\n';
    if (!answer) {
      out << std::flush;
      return kAlertFirstButtonReturn + static_cast<long>(alert.escapeButtonIndex());
    }
    if (!answer->tooLong) {
      if (std::optional<std::size_t> index =
              chosenIndex(trimmed(answer->text), buttons.size(), returnIndex)) {
        out << std::flush;
        return kAlertFirstButtonReturn + static_cast<long>(*index);
      }
    }
    out << hint << '\n' << prompt << std::flush;
  }
}

}  // namespace uk::platform::terminal

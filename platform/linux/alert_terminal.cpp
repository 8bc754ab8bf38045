// Alerts on a text terminal, over the standard C++ streams.

#include "platform/linux/alert_terminal.h"

#include <cstddef>
#include <cstdint>
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

// The length of the valid UTF-8 sequence that starts `text` and its code
// point, or a length of 0 when the first byte starts none (a stray
// continuation byte, an overlong form, a surrogate, a cut sequence).
struct Decoded {
  std::size_t length = 0;
  char32_t codePoint = 0;
};
Decoded decodeFirst(std::string_view text) {
  const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
  const unsigned char lead = byte(0);
  if (lead < 0x80) return {1, lead};
  std::size_t length = 0;
  char32_t codePoint = 0;
  char32_t smallest = 0;
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2, codePoint = lead & 0x1F, smallest = 0x80;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3, codePoint = lead & 0x0F, smallest = 0x800;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4, codePoint = lead & 0x07, smallest = 0x10000;
  } else {
    return {};
  }
  if (text.size() < length) return {};
  for (std::size_t i = 1; i < length; ++i) {
    if ((byte(i) & 0xC0) != 0x80) return {};
    codePoint = (codePoint << 6) | (byte(i) & 0x3F);
  }
  if (codePoint < smallest || codePoint > 0x10FFFF ||
      (codePoint >= 0xD800 && codePoint <= 0xDFFF)) {
    return {};
  }
  return {length, codePoint};
}

// Characters that a terminal obeys or that reorder what it shows rather than
// print: C0 controls but the line feed, DEL, C1 controls, and the
// bidirectional overrides, embeddings, isolates and marks.
bool isInvisibleControl(char32_t c) {
  return (c < 0x20 && c != '\n') || (c >= 0x7F && c <= 0x9F) || c == 0x061C || c == 0x200E ||
         c == 0x200F || (c >= 0x202A && c <= 0x202E) || (c >= 0x2066 && c <= 0x2069);
}

void appendHex(std::string& out, std::string_view prefix, std::uint32_t value,
               std::string_view suffix) {
  constexpr char kDigits[] = "0123456789abcdef";
  std::string digits;
  do {
    digits.insert(digits.begin(), kDigits[value % 16]);
    value /= 16;
  } while (value != 0);
  if (digits.size() < 2) digits.insert(digits.begin(), '0');
  out.append(prefix).append(digits).append(suffix);
}

// The text as it is written to the terminal: a byte that starts no valid UTF-8
// sequence as "\xHH", a C0 control (tab and carriage return included) or DEL
// as "\xHH", any other invisible control as "\u{H...}", a backslash doubled;
// everything else, line feeds included, unchanged. Nothing the terminal sees
// can then move the cursor, erase, retitle the window or reorder a path, and
// an escape that a name spells out itself ("\x1b" typed as four characters)
// reads differently from a real one.
std::string inert(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  while (!text.empty()) {
    const Decoded decoded = decodeFirst(text);
    if (decoded.length == 0) {
      appendHex(out, "\\x", static_cast<unsigned char>(text[0]), "");
      text.remove_prefix(1);
      continue;
    }
    if (decoded.codePoint == '\\') {
      out += "\\\\";
    } else if (decoded.codePoint < 0x80 && isInvisibleControl(decoded.codePoint)) {
      appendHex(out, "\\x", decoded.codePoint, "");
    } else if (isInvisibleControl(decoded.codePoint)) {
      appendHex(out, "\\u{", decoded.codePoint, "}");
    } else {
      out.append(text.substr(0, decoded.length));
    }
    text.remove_prefix(decoded.length);
  }
  return out;
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

  out << inert(alert.messageText()) << '\n';
  if (!alert.informativeText().empty()) out << '\n' << inert(alert.informativeText()) << '\n';
  out << '\n';
  for (std::size_t i = 0; i < buttons.size(); ++i) {
    out << "  " << i + 1 << ". " << inert(buttons[i].title())
        << (i == returnIndex ? " (Return)" : "") << '\n';
  }
  const std::string range = buttons.size() == 1 ? "1" : "1-" + count;
  const std::string prompt = "Choose " + range + " (Return: " + returnNumber + "): ";
  const std::string hint = buttons.size() == 1
                               ? "Type 1, or just press Return."
                               : "Type a number from 1 to " + count + ", or just press Return.";

  // An answer counts only to a question that was seen: when any part of the
  // alert or its prompt could not be written (a full device, a reader that
  // went away), nothing is read and the alert ends as end of input does.
  const long unanswered = kAlertFirstButtonReturn + static_cast<long>(alert.escapeButtonIndex());
  out << prompt << std::flush;
  if (!out) return unanswered;
  for (;;) {
    const std::optional<Answer> answer = readAnswer(in);
    // A terminal echoes the line break that ends a typed line; otherwise the
    // output gets its own, so the next text starts on a line of its own.
    if (!inputEchoed || !answer || !answer->endOfLine) out << '\n';
    if (!answer) {
      out << std::flush;
      return unanswered;
    }
    if (!answer->tooLong) {
      if (std::optional<std::size_t> index =
              chosenIndex(trimmed(answer->text), buttons.size(), returnIndex)) {
        out << std::flush;
        return kAlertFirstButtonReturn + static_cast<long>(*index);
      }
    }
    out << hint << '\n' << prompt << std::flush;
    if (!out) return unanswered;
  }
}

}  // namespace uk::platform::terminal

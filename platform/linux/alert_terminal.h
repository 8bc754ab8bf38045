#pragma once

// Alerts on a text terminal: the form used when no display can be opened.

#include <iosfwd>

#include "platform/platform.h"

namespace uk::platform::terminal {

// Writes the alert to `out` and reads answers from `in`, one line each, until
// one chooses a button: a button's number chooses it, an empty line chooses
// the button that Return chooses, and the end of input chooses the button that
// Escape chooses. Anything else prints a hint and asks again. Spaces, tabs and
// a carriage return around an answer are ignored. `inputEchoed` tells whether a
// terminal shows what is typed; when it does not, a line break is written after
// each answer so that the output keeps its lines. The alert has at least one
// button. Gives kAlertFirstButtonReturn plus the chosen button's index. When
// any write to `out` fails or falls short (the stream goes bad), nothing more
// is read and the answer is the one that the end of input gives: no answer
// without the whole question on the screen.
// Every text is written inert: control characters other than the line feed
// (C0 with tab and carriage return, DEL, C1, bidirectional controls) and bytes
// that are not UTF-8 appear escaped as \xHH or \u{H...}, and a backslash as
// "\\"; printable text in any script is written as it is.
long runAlert(const Alert& alert, std::istream& in, std::ostream& out, bool inputEchoed);

}  // namespace uk::platform::terminal

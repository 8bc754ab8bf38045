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
// button. Gives kAlertFirstButtonReturn plus the chosen button's index.
long runAlert(const Alert& alert, std::istream& in, std::ostream& out, bool inputEchoed);

}  // namespace uk::platform::terminal

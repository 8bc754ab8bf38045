#include "platform/platform.h"

namespace uk::platform {

std::size_t Alert::returnButtonIndex() const {
  for (std::size_t i = 0; i < buttons_.size(); ++i) {
    if (buttons_[i].keyEquivalent() == "\r") return i;
  }
  return 0;
}

std::size_t Alert::escapeButtonIndex() const {
  for (std::size_t i = 0; i < buttons_.size(); ++i) {
    if (buttons_[i].title() == "Cancel") return i;
  }
  return 0;
}

}  // namespace uk::platform

// The one shared file manager on Linux. (Stand-in: the attributes and home
// folder of the file manager live with the files piece, which replaces this
// file.)

#include "platform/platform.h"

namespace uk::platform {

FileManager& FileManager::defaultManager() {
  static FileManager manager;
  return manager;
}

}  // namespace uk::platform

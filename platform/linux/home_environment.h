#pragma once

namespace uk::platform::linux_home {

// Makes HOME and XDG_DATA_HOME name the home folder that the search uses,
// before GLib first reads them (it keeps what it read for the life of the
// process): an empty or relative HOME becomes the user database's home folder
// ("/" when that is not absolute either), and an empty or relative
// XDG_DATA_HOME is dropped, as the XDG Base Directory rules ask. Otherwise
// GLib's trash would be placed relative to the working folder. Runs once;
// later calls do nothing.
void settleHomeEnvironment();

}  // namespace uk::platform::linux_home

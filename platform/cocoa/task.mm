// Child processes over Foundation's NSTask.

#include "platform/cocoa/string_conversions.h"
#include "platform/platform.h"

namespace uk::platform {

struct Task::State {
  NSTask* task = [[NSTask alloc] init];
  // False once the executable or an argument had no NSString spelling: such a
  // child is never started with a changed command line.
  bool representable = true;
  bool launched = false;
};

Task::Task() : state_(std::make_unique<State>()) {}

Task::~Task() = default;

void Task::setExecutableURL(const FileURL& url) {
  @autoreleasepool {
    NSURL* executable = toNSURL(url);
    if (executable == nil) state_->representable = false;
    state_->task.executableURL = executable;
  }
}

void Task::setArguments(std::vector<std::string> arguments) {
  @autoreleasepool {
    NSMutableArray* converted = [NSMutableArray arrayWithCapacity:arguments.size()];
    for (const std::string& argument : arguments) {
      NSString* text = toNSString(argument);
      if (text == nil) {
        state_->representable = false;
        return;
      }
      [converted addObject:text];
    }
    state_->task.arguments = converted;
  }
}

// Each stream gets a null-device handle of its own.
void Task::setStandardOutputToNullDevice() {
  @autoreleasepool {
    state_->task.standardOutput = [NSFileHandle fileHandleWithNullDevice];
  }
}

void Task::setStandardErrorToNullDevice() {
  @autoreleasepool {
    state_->task.standardError = [NSFileHandle fileHandleWithNullDevice];
  }
}

bool Task::launchAndReturnError() {
  @autoreleasepool {
    if (!state_->representable || state_->task.executableURL == nil) return false;
    NSError* error = nil;
    state_->launched = [state_->task launchAndReturnError:&error];
    return state_->launched;
  }
}

void Task::waitUntilExit() {
  @autoreleasepool {
    if (state_->launched) [state_->task waitUntilExit];
  }
}

int Task::terminationStatus() const {
  // NSTask raises for a child that was never started or still runs; neither
  // has a status, so report failure instead.
  @try {
    if (state_->launched) return state_->task.terminationStatus;
  } @catch (NSException* exception) {
  }
  return -1;
}

}  // namespace uk::platform

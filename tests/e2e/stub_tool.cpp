// A stand-in for an external tool (the code-signature tool, the Launch
// Services registration tool) inside an end-to-end sandbox. It records how it
// was called, then ends as the test's plan for it says.
//
// The record is appended to /var/log/uk-e2e/calls as one block:
//   call <path of this executable>
//   argv0 <argv[0]>
//   arg <argument>            (one line per argument, in order)
//   fd <number> <target>      (one line per descriptor it received)
//   end
// The plan is /var/lib/uk-e2e/plan/<file name of this executable>, one rule a
// line:
//   <glob over the arguments joined by spaces> TAB <action> [parameters]
// The first rule whose glob matches decides; with no plan or no match the
// tool exits 0. Actions:
//   exit N              exit with status N
//   signal N            kill itself with signal N
//   rename FROM TO N    rename FROM to TO, then exit with status N
// Descriptors are read before the tool opens anything of its own.

#include <dirent.h>
#include <fcntl.h>
#include <fnmatch.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace {

constexpr const char* kLogPath = "/var/log/uk-e2e/calls";
constexpr const char* kPlanFolder = "/var/lib/uk-e2e/plan/";

std::string descriptorList() {
  DIR* folder = opendir("/proc/self/fd");
  if (folder == nullptr) return "fd ? cannot read /proc/self/fd\n";
  const int own = dirfd(folder);
  std::vector<int> numbers;
  while (const dirent* entry = readdir(folder)) {
    if (entry->d_name[0] == '.') continue;
    const int number = std::atoi(entry->d_name);
    if (number != own) numbers.push_back(number);
  }
  std::string text;
  for (int number : numbers) {
    char target[4096];
    const std::string link = "/proc/self/fd/" + std::to_string(number);
    const ssize_t length = readlink(link.c_str(), target, sizeof target - 1);
    target[length < 0 ? 0 : length] = '\0';
    text += "fd " + std::to_string(number) + " " + target + "\n";
  }
  closedir(folder);
  return text;
}

std::string baseName(const std::string& path) {
  const auto slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

}  // namespace

int main(int argc, char** argv) {
  // Snapshot first: anything opened below must not show up in the record.
  const std::string descriptors = descriptorList();

  char self[4096];
  const ssize_t selfLength = readlink("/proc/self/exe", self, sizeof self - 1);
  self[selfLength < 0 ? 0 : selfLength] = '\0';

  std::string record = std::string("call ") + self + "\nargv0 " + argv[0] + "\n";
  std::string joined;
  for (int i = 1; i < argc; ++i) {
    record += std::string("arg ") + argv[i] + "\n";
    joined += (i > 1 ? " " : "") + std::string(argv[i]);
  }
  record += descriptors + "end\n";

  const int log = open(kLogPath, O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
  if (log < 0 || write(log, record.data(), record.size()) != static_cast<ssize_t>(record.size())) {
    return 97;  // A call that leaves no record must not pass as a success.
  }
  close(log);

  std::ifstream plan(kPlanFolder + baseName(self));
  std::string line;
  while (std::getline(plan, line)) {
    const auto tab = line.find('\t');
    if (tab == std::string::npos) continue;
    const std::string glob = line.substr(0, tab);
    std::istringstream words(line.substr(tab + 1));
    std::string action;
    if (!(words >> action)) continue;
    if (fnmatch(glob.c_str(), joined.c_str(), 0) != 0) continue;
    if (action == "exit") {
      int status = 0;
      words >> status;
      return status;
    }
    if (action == "signal") {
      int number = SIGKILL;
      words >> number;
      std::signal(number, SIG_DFL);
      raise(number);
      return 98;
    }
    if (action == "rename") {
      std::string from, to;
      int status = 0;
      words >> from >> to >> status;
      if (std::rename(from.c_str(), to.c_str()) != 0) return 96;
      return status;
    }
    return 95;  // An unknown action is a broken plan: fail loudly.
  }
  return 0;
}

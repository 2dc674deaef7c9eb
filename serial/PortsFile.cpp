#include "PortsFile.h"

#include <sys/stat.h>

#include <atomic>
#include <cstdlib>
#include <fstream>
#include <mutex>
#include <sstream>

#include "ComPorts.h"
#include "NetworkLine.h"
#include "Trace.h"

namespace vantorq {

namespace {

std::string_view Trim(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r')) s.remove_suffix(1);
  return s;
}

// The names as the port list shows them: upper case, as StrictComNumber
// takes them otherwise.
unsigned ComNumber(std::string_view name) { return name.substr(0, 3) == "COM" ? StrictComNumber(name) : 0; }

struct Loaded {
  std::mutex lock;
  std::string path;
  timespec changed{};
  off_t size = -1;
  PortsFile file;
};

std::atomic<bool> g_resolveAhead{true};

Loaded& Cache() {
  static Loaded loaded;
  return loaded;
}

}  // namespace

PortsFile ParsePortsFile(std::string_view text) {
  PortsFile file;
  std::size_t number = 0;
  while (!text.empty()) {
    ++number;
    const auto end = text.find('\n');
    std::string_view line = text.substr(0, end);
    text = end == std::string_view::npos ? std::string_view{} : text.substr(end + 1);
    if (const auto hash = line.find('#'); hash != std::string_view::npos) line = line.substr(0, hash);
    line = Trim(line);
    if (line.empty()) continue;
    const auto gap = line.find_first_of(" \t");
    const std::string_view name = line.substr(0, gap);
    const std::string_view address = gap == std::string_view::npos ? std::string_view{} : Trim(line.substr(gap));
    const std::string where = "line " + std::to_string(number) + ": ";
    const unsigned com = ComNumber(name);
    if (com == 0) {
      file.problems.push_back(where + EscapeControls(name) + " is no COM name (COM1 to COM99)");
      continue;
    }
    NetworkAddress parsed;
    std::string error;
    if (address.find_first_of(" \t") != std::string_view::npos) {
      file.problems.push_back(where + "one address after " + std::string(name) + ", no more");
      continue;
    }
    if (!ParseNetworkAddress(address, parsed, error)) {
      file.problems.push_back(where + std::string(name) + ": " + error);
      continue;
    }
    if (!file.addresses.emplace(com, std::string(address)).second) {
      file.problems.push_back(where + std::string(name) + " is given twice: the first line holds");
    }
  }
  return file;
}

std::string PortsFilePath() {
  const char* config = std::getenv("XDG_CONFIG_HOME");
  if (config != nullptr && *config == '/') return std::string(config) + "/vantorq/ports";
  const char* home = std::getenv("HOME");
  return std::string(home != nullptr ? home : "") + "/.config/vantorq/ports";
}

namespace {

// Reads the file again if it changed since the last look; under the lock.
void Refresh(Loaded& cache) {
  const std::string path = PortsFilePath();
  struct stat st {};
  const bool exists = ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
  const timespec changed = exists ? st.st_mtim : timespec{};
  const off_t size = exists ? st.st_size : -1;
  if (path != cache.path || size != cache.size || changed.tv_sec != cache.changed.tv_sec ||
      changed.tv_nsec != cache.changed.tv_nsec) {
    cache.path = path;
    cache.size = size;
    cache.changed = changed;
    cache.file = {};
    // A ports file is a few lines; anything far larger is not one.
    if (exists && size <= 64 * 1024) {
      std::ifstream in(path);
      std::ostringstream text;
      if (in) text << in.rdbuf();
      cache.file = ParsePortsFile(text.str());
      if (!in) cache.file.problems.push_back("cannot be read");
    } else if (exists) {
      cache.file.problems.push_back("over 64 KiB: not read");
    }
    for (const auto& problem : cache.file.problems) {
      WriteErrorLine(ProgramName() + ": " + EscapeControls(path) + ": " + problem);
    }
    for (const auto& [com, address] : cache.file.addresses) {
      if (!g_resolveAhead) break;
      NetworkAddress parsed;
      std::string error;
      if (ParseNetworkAddress(address, parsed, error)) ResolveAhead(parsed);
    }
  }
}

}  // namespace

std::string NetworkAddressFor(unsigned port) {
  Loaded& cache = Cache();
  std::lock_guard guard(cache.lock);
  Refresh(cache);
  const auto found = cache.file.addresses.find(port);
  return found != cache.file.addresses.end() ? found->second : std::string();
}

void ResolveNamesAhead(bool ahead) { g_resolveAhead = ahead; }

void ReadPortsFile() {
  Loaded& cache = Cache();
  std::lock_guard guard(cache.lock);
  Refresh(cache);
}

std::string PortsFileProblems() {
  Loaded& cache = Cache();
  std::lock_guard guard(cache.lock);
  Refresh(cache);
  if (cache.file.problems.empty()) return {};
  std::string text = "The ports file " + EscapeControls(cache.path) + " has lines left out: ";
  for (std::size_t i = 0; i < cache.file.problems.size(); ++i) text += (i > 0 ? "; " : "") + cache.file.problems[i];
  return text + ".";
}

}  // namespace vantorq

#include "rtl/apppaths.h"

#include <unistd.h>

#include <cstdlib>
#include <mutex>

namespace fyn {
namespace {

std::mutex& HomeMutex() {
  static std::mutex m;
  return m;
}

std::string& OverriddenHome() {
  static std::string home;
  return home;
}

std::string WithSlash(std::string folder) {
  if (!folder.empty() && folder.back() != '/') folder += '/';
  return folder;
}

}  // namespace

std::string ExecutableFolder() {
  std::string path(4096, '\0');
  ssize_t n = readlink("/proc/self/exe", path.data(), path.size() - 1);
  if (n <= 0) return "./";
  path.resize(static_cast<size_t>(n));
  size_t slash = path.rfind('/');
  return slash == std::string::npos ? "./" : path.substr(0, slash + 1);
}

std::string AppHome() {
  {
    std::lock_guard<std::mutex> lock(HomeMutex());
    if (!OverriddenHome().empty()) return OverriddenHome();
  }
  const char* env = std::getenv("FYN_HOME");
  if (env != nullptr && *env != '\0') return WithSlash(env);
  return ExecutableFolder();
}

void SetAppHome(const std::string& folder) {
  std::lock_guard<std::mutex> lock(HomeMutex());
  OverriddenHome() = WithSlash(folder);
}

}  // namespace fyn

#include "platform/winpath.h"

#include <dirent.h>
#include <strings.h>
#include <sys/stat.h>

#include "platform/gbk.h"

namespace platform {

std::string winPathToLinux(std::string_view gbkPath) {
  return utf8WinPathToLinux(gbkToUtf8(gbkPath));
}

std::string utf8WinPathToLinux(std::string_view utf8Path) {
  std::string p(utf8Path);
  for (char& c : p)
    if (c == '\\') c = '/';
  if (p.size() >= 2 && p[1] == ':' &&
      ((p[0] >= 'a' && p[0] <= 'z') || (p[0] >= 'A' && p[0] <= 'Z'))) {
    p.erase(0, 2);
    if (p.empty() || p[0] != '/') p.insert(0, "/");
  }
  return p;
}

namespace {
bool exists(const std::string& p) {
  struct stat st;
  return ::stat(p.c_str(), &st) == 0;
}
}  // namespace

std::string resolveCaseInsensitive(const std::string& path) {
  if (path.empty() || exists(path)) return path;
  std::string out = path[0] == '/' ? "/" : "";
  size_t i = path[0] == '/' ? 1 : 0;
  while (i <= path.size()) {
    size_t j = path.find('/', i);
    if (j == std::string::npos) j = path.size();
    std::string comp = path.substr(i, j - i);
    i = j + 1;
    if (comp.empty()) continue;
    std::string dir = out.empty() ? "." : out;
    std::string candidate = out + comp;
    if (comp != "." && comp != ".." && !exists(candidate)) {
      DIR* d = ::opendir(dir.c_str());
      if (!d) return path;
      std::string found;
      while (dirent* e = ::readdir(d)) {
        if (::strcasecmp(e->d_name, comp.c_str()) == 0) {
          found = e->d_name;
          break;
        }
      }
      ::closedir(d);
      if (found.empty()) return path;
      candidate = out + found;
    }
    out = candidate;
    if (j < path.size()) out += '/';
  }
  return out;
}

std::string openablePath(std::string_view gbkPath) {
  return resolveCaseInsensitive(winPathToLinux(gbkPath));
}

std::string openableUtf8Path(std::string_view utf8Path) {
  return resolveCaseInsensitive(utf8WinPathToLinux(utf8Path));
}

}  // namespace platform

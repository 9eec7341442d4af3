#include "platform/ini.h"

#include <fcntl.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstring>
#include <fstream>

#include "platform/gbk.h"

namespace platform {
namespace {

// Far more than any configuration holds; a larger file is a mistake.
constexpr long kMaxIniBytes = 16L << 20;

std::string_view trim(std::string_view s) {
  size_t b = 0, e = s.size();
  while (b < e && (s[b] == ' ' || s[b] == '\t' || s[b] == '\r'))
    ++b;
  while (e > b && (s[e - 1] == ' ' || s[e - 1] == '\t' || s[e - 1] == '\r'))
    --e;
  return s.substr(b, e - b);
}

bool sameName(std::string_view a, std::string_view b) {
  return a.size() == b.size() && ::strncasecmp(a.data(), b.data(), a.size()) == 0;
}

// "[name]" -> name; other lines -> nullopt-like empty with false.
bool sectionName(std::string_view line, std::string_view* name) {
  line = trim(line);
  if (line.size() < 2 || line.front() != '[') return false;
  size_t close = line.find(']');
  if (close == std::string_view::npos) return false;
  *name = trim(line.substr(1, close - 1));
  return true;
}

bool keyValue(std::string_view line, std::string_view* key, std::string_view* value) {
  std::string_view t = trim(line);
  if (t.empty() || t[0] == ';' || t[0] == '#' || t[0] == '[') return false;
  size_t eq = t.find('=');
  if (eq == std::string_view::npos) return false;
  *key = trim(t.substr(0, eq));
  std::string_view v = trim(t.substr(eq + 1));
  if (v.size() >= 2 && v.front() == '"' && v.back() == '"') v = v.substr(1, v.size() - 2);
  *value = v;
  return true;
}

// Reads a whole regular file. False when there is no such file; otherwise
// true, with `error` set when it exists but cannot be read. Opening never
// blocks (a FIFO is refused, not waited on).
bool readWhole(const std::string& path, std::string* text, std::string* error) {
  int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    if (errno == ENOENT || errno == ENOTDIR) return false;
    *error = std::strerror(errno);
    return true;
  }
  struct stat st {};
  if (::fstat(fd, &st) != 0) {
    *error = std::strerror(errno);
  } else if (!S_ISREG(st.st_mode)) {
    *error = S_ISDIR(st.st_mode) ? std::strerror(EISDIR) : "not a regular file";
  } else if (st.st_size > kMaxIniBytes) {
    *error = "larger than " + std::to_string(kMaxIniBytes) + " bytes";
  } else {
    char buf[65536];
    for (;;) {
      ssize_t n = ::read(fd, buf, sizeof buf);
      if (n < 0 && errno == EINTR) continue;
      if (n < 0) {
        *error = std::strerror(errno);
        break;
      }
      if (n == 0) break;
      text->append(buf, static_cast<size_t>(n));
      if (text->size() > static_cast<size_t>(kMaxIniBytes)) {
        *error = "larger than " + std::to_string(kMaxIniBytes) + " bytes";
        break;
      }
    }
  }
  ::close(fd);
  return true;
}

}  // namespace

IniFile::IniFile(std::string path) : path_(std::move(path)) {
  reload();
}

void IniFile::reload() {
  lines_.clear();
  keys_.clear();
  crlf_ = false;
  readError_.clear();
  std::string text;
  exists_ = readWhole(path_, &text, &readError_);
  if (!readError_.empty()) text.clear();
  if (text.size() >= 3 && text.compare(0, 3, "\xEF\xBB\xBF") == 0) text.erase(0, 3);
  crlf_ = text.find("\r\n") != std::string::npos;
  size_t start = 0;
  while (start < text.size()) {
    size_t nl = text.find('\n', start);
    if (nl == std::string::npos) nl = text.size();
    std::string line = text.substr(start, nl - start);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    // Each line on its own: a file kept in UTF-8 often carries a line or two
    // typed under GBK (a comment pasted from an old installation), and that
    // must not turn its UTF-8 paths into nonsense.
    if (!isValidUtf8(line)) line = gbkToUtf8(line);
    lines_.push_back(std::move(line));
    start = nl + 1;
  }
  index();
}

namespace {
std::string lookupName(std::string_view section, std::string_view key) {
  std::string n;
  n.reserve(section.size() + key.size() + 1);
  for (char c : section)
    n += static_cast<char>(c >= 'A' && c <= 'Z' ? c + 32 : c);
  n += '\n';
  for (char c : key)
    n += static_cast<char>(c >= 'A' && c <= 'Z' ? c + 32 : c);
  return n;
}
}  // namespace

void IniFile::index() {
  keys_.clear();
  std::string_view section;
  bool inSection = false;
  for (int i = 0; i < static_cast<int>(lines_.size()); ++i) {
    std::string_view name, k, v;
    if (sectionName(lines_[i], &name)) {
      section = name;
      inSection = true;
      continue;
    }
    if (inSection && keyValue(lines_[i], &k, &v))
      keys_.try_emplace(lookupName(section, k), i, std::string(v));
  }
}

int IniFile::findKey(std::string_view section, std::string_view key, int* sectionEnd,
                     int* sectionHeader) const {
  bool inSection = false;
  int found = -1;
  if (sectionEnd) *sectionEnd = -1;
  if (sectionHeader) *sectionHeader = -1;
  for (int i = 0; i < static_cast<int>(lines_.size()); ++i) {
    std::string_view name, k, v;
    if (sectionName(lines_[i], &name)) {
      inSection = sameName(name, section);
      if (inSection && sectionHeader && *sectionHeader < 0) {
        *sectionHeader = i;
        if (sectionEnd) *sectionEnd = i;
      }
      continue;
    }
    if (!inSection) continue;
    if (!trim(lines_[i]).empty() && sectionEnd) *sectionEnd = i;
    if (found < 0 && keyValue(lines_[i], &k, &v) && sameName(k, key)) found = i;
  }
  return found;
}

std::optional<std::string> IniFile::rawValue(std::string_view section, std::string_view key) const {
  auto it = keys_.find(lookupName(section, key));
  if (it == keys_.end()) return std::nullopt;
  return it->second.second;
}

bool IniFile::has(std::string_view section, std::string_view key) const {
  return keys_.count(lookupName(section, key)) > 0;
}

std::string IniFile::getString(std::string_view section, std::string_view key,
                               std::string_view def) const {
  auto v = rawValue(section, key);
  return v ? *v : std::string(def);
}

int IniFile::getInt(std::string_view section, std::string_view key, int def) const {
  auto v = rawValue(section, key);
  if (!v) return def;
  const char* p = v->c_str();
  bool neg = false;
  if (*p == '-' || *p == '+') neg = *p++ == '-';
  long long n = 0;
  while (*p >= '0' && *p <= '9') {
    n = n * 10 + (*p++ - '0');
    if (n > 1LL + INT_MAX) n = 1LL + INT_MAX;
  }
  if (neg) n = -n;
  if (n > INT_MAX) n = INT_MAX;
  if (n < INT_MIN) n = INT_MIN;
  return static_cast<int>(n);
}

bool IniFile::isMalformedInt(std::string_view section, std::string_view key) const {
  auto v = rawValue(section, key);
  if (!v) return false;
  std::string_view s = *v;
  if (!s.empty() && (s[0] == '-' || s[0] == '+')) s.remove_prefix(1);
  if (s.empty() || s.size() > 10) return true;
  for (char c : s)
    if (c < '0' || c > '9') return true;
  long long n = std::stoll(std::string(s));
  return n > 2147483648LL;
}

bool IniFile::writeString(std::string_view section, std::string_view key, std::string_view value,
                          std::string* error) {
  reload();  // another writer may have changed the file since it was read
  // Writing now would replace every setting of a file we could not read.
  if (!readError_.empty()) {
    if (error) *error = "cannot read " + path_ + ": " + readError_ + "; it is left as it is";
    return false;
  }
  int sectionEnd = -1, header = -1;
  int at = findKey(section, key, &sectionEnd, &header);
  std::string line = std::string(key) + "=" + std::string(value);
  if (at >= 0) {
    lines_[at] = line;
  } else if (header >= 0) {
    lines_.insert(lines_.begin() + sectionEnd + 1, line);
  } else {
    if (!lines_.empty() && !trim(lines_.back()).empty()) lines_.push_back("");
    lines_.push_back("[" + std::string(section) + "]");
    lines_.push_back(line);
  }
  const char* eol = crlf_ ? "\r\n" : "\n";
  std::string text;
  for (const auto& l : lines_)
    text += l + eol;

  std::string tmp = path_ + ".tmp" + std::to_string(::getpid());
  {
    std::ofstream out(tmp, std::ios::binary | std::ios::trunc);
    out << text;
    out.flush();
    if (!out) {
      if (error) *error = "cannot write " + tmp + ": " + std::strerror(errno);
      ::unlink(tmp.c_str());
      reload();
      return false;
    }
  }
  if (::rename(tmp.c_str(), path_.c_str()) != 0) {
    if (error) *error = "cannot replace " + path_ + ": " + std::strerror(errno);
    ::unlink(tmp.c_str());
    reload();
    return false;
  }
  exists_ = true;
  return true;
}

int iniReadInt(const std::string& path, std::string_view section, std::string_view key, int def) {
  return IniFile(path).getInt(section, key, def);
}

std::string iniReadString(const std::string& path, std::string_view section, std::string_view key,
                          std::string_view def) {
  return IniFile(path).getString(section, key, def);
}

bool iniWriteString(const std::string& path, std::string_view section, std::string_view key,
                    std::string_view value, std::string* error) {
  return IniFile(path).writeString(section, key, value, error);
}

}  // namespace platform

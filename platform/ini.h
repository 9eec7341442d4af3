// INI files as the runtime and the designer use them: read an integer, read a
// string with a default, write one key. Section and key names match without
// regard to ASCII case; writing keeps every other line of the file; a missing
// file reads as all defaults and is created on the first write. Files are
// UTF-8; each line that is not valid UTF-8 is read as GBK, so one GBK line
// does not spoil the rest. Values come back as UTF-8, and a rewritten file
// is UTF-8 throughout.
#pragma once

#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace platform {

class IniFile {
 public:
  // Reads the file now; a missing or unreadable file reads as empty.
  explicit IniFile(std::string path);

  const std::string& path() const { return path_; }
  // True when something is at the path, even if it could not be read.
  bool exists() const { return exists_; }
  // Why an existing file could not be read ("Permission denied", "not a
  // regular file", ...); empty when it was read or is missing. Such a file
  // is never rewritten.
  const std::string& readError() const { return readError_; }
  void reload();

  bool has(std::string_view section, std::string_view key) const;
  // The value with surrounding blanks (and one pair of double quotes) removed,
  // or `def` when the key is absent.
  std::string getString(std::string_view section, std::string_view key, std::string_view def) const;
  // `def` when the key is absent; otherwise the leading decimal number of the
  // value (optional sign), 0 when there is none, limited to the int range.
  int getInt(std::string_view section, std::string_view key, int def) const;
  // True when the key is present but its value is not a plain decimal integer.
  bool isMalformedInt(std::string_view section, std::string_view key) const;

  // Sets one key and writes the file at once (through a temporary file and a
  // rename, so a failed write leaves the old file whole). Returns false and
  // fills `error` when the file cannot be written.
  bool writeString(std::string_view section, std::string_view key, std::string_view value,
                   std::string* error = nullptr);

 private:
  // Index of the line holding the key inside the section, or -1.
  int findKey(std::string_view section, std::string_view key, int* sectionEnd = nullptr,
              int* sectionHeader = nullptr) const;
  std::optional<std::string> rawValue(std::string_view section, std::string_view key) const;
  void index();

  std::string path_;
  bool exists_ = false;
  std::string readError_;
  bool crlf_ = false;
  std::vector<std::string> lines_;
  // Lower-case "section\nkey" -> (first line of that key, its value).
  std::map<std::string, std::pair<int, std::string>, std::less<>> keys_;
};

// One-shot helpers in the style of the private-profile calls.
int iniReadInt(const std::string& path, std::string_view section, std::string_view key, int def);
std::string iniReadString(const std::string& path, std::string_view section, std::string_view key,
                          std::string_view def);
bool iniWriteString(const std::string& path, std::string_view section, std::string_view key,
                    std::string_view value, std::string* error = nullptr);

}  // namespace platform

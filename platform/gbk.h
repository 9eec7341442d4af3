// GBK <-> UTF-8. Everything the formats store is GBK; people and Linux see
// UTF-8. This is the one place where text crosses between the two.
#pragma once

#include <string>
#include <string_view>

namespace platform {

// Bytes that are not valid GBK become U+FFFD; never fails.
std::string gbkToUtf8(std::string_view gbk);
// The same, appended to `out` (no text of its own once `out` has room).
void appendGbkAsUtf8(std::string& out, std::string_view gbk);
// Characters that GBK cannot hold, and invalid UTF-8, become '?'; never fails.
std::string utf8ToGbk(std::string_view utf8);
bool isValidUtf8(std::string_view s);

// ASCII letters of GBK text to lower or upper case. The trail byte of a
// double-byte character can look like a letter and is left alone.
void gbkAsciiLowerInPlace(std::string& s);
void gbkAsciiUpperInPlace(std::string& s);
std::string gbkAsciiLower(std::string_view s);
std::string gbkAsciiUpper(std::string_view s);

}  // namespace platform

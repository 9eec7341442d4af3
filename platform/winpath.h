// Windows-style paths of flows and voice names (".\voice\D0.qx", "..\x",
// "c:\x") turned into Linux paths.
#pragma once

#include <string>
#include <string_view>

namespace platform {

// Backslashes become slashes and the GBK text becomes UTF-8. Relative paths
// stay relative (to the working directory); a drive letter ("c:") is dropped,
// so "c:\x" names "/x".
std::string winPathToLinux(std::string_view gbkPath);
// The same for a path that is already UTF-8 (from an INI file or a command line).
std::string utf8WinPathToLinux(std::string_view utf8Path);

// The path as it exists on disk: when `path` itself does not exist, each
// component is looked up without regard to ASCII case, as the names were
// written for a file system that ignores case. Returns `path` unchanged when
// no match exists.
std::string resolveCaseInsensitive(const std::string& path);

// winPathToLinux followed by resolveCaseInsensitive: where to open a file the
// flow names.
std::string openablePath(std::string_view gbkPath);
std::string openableUtf8Path(std::string_view utf8Path);

}  // namespace platform

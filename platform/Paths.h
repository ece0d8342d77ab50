// SPDX-License-Identifier: MIT
#pragma once
// Path arithmetic, done on text as the platform does it. No function here touches the disk
// except absolute() (it reads the current directory) and resolveSymlinks().

#include <string>
#include <string_view>

namespace tavro::platform::paths {

// Relative paths are taken against the process's current directory.
std::string absolute(std::string_view path);

// Lexical normalisation of an absolute path: "." removed, ".." takes away one component
// (never above "/"), repeated "/" collapsed, no trailing "/" (except the root itself).
std::string normalize(std::string_view path);

// Symbolic links resolved, "." and ".." removed, as the platform's link resolution does it:
// the longest existing prefix is resolved through the file system and the rest, which does not
// exist, is standardised lexically. Relative paths are made absolute first. Takes time linear
// in the path's length. Throws platform::Error only for a path longer than the system takes
// (PATH_MAX), which could name nothing.
std::string resolveSymlinks(std::string_view path);

std::string join(std::string_view directory, std::string_view name);
std::string parent(std::string_view path);          // "/a/b" -> "/a"; "/a" -> "/"
std::string lastComponent(std::string_view path);   // "dir/file.txt/" -> "file.txt"

// File-name extension rules: the text after the last "." of the last component; none when
// that dot is the component's first character, when nothing follows it, or when the
// extension contains a space.
std::string extension(std::string_view name);
std::string deletingExtension(std::string_view name);  // "dir/file.txt/" -> "dir/file"

}  // namespace tavro::platform::paths

// SPDX-License-Identifier: MIT
#include "platform/Paths.h"

#include <fcntl.h>
#include <limits.h>
#include <stdlib.h>
#include <unistd.h>

#include <memory>
#include <vector>

#include "platform/Error.h"

namespace tavro::platform::paths {

namespace {

// Cocoa's code for a file name or path the system cannot take.
constexpr int64_t kFileReadInvalidFileName = 258;

std::vector<std::string_view> components(std::string_view path) {
    std::vector<std::string_view> parts;
    size_t start = 0;
    while (start <= path.size()) {
        size_t end = path.find('/', start);
        if (end == std::string_view::npos) {
            end = path.size();
        }
        if (end > start) {
            parts.push_back(path.substr(start, end - start));
        }
        start = end + 1;
    }
    return parts;
}

// Repeated "/" collapsed and one trailing "/" removed (the root stays "/"), the form the
// name rules work on.
std::string cleaned(std::string_view path) {
    std::string out;
    out.reserve(path.size());
    for (char c : path) {
        if (c == '/' && !out.empty() && out.back() == '/') {
            continue;
        }
        out.push_back(c);
    }
    if (out.size() > 1 && out.back() == '/') {
        out.pop_back();
    }
    return out;
}

std::string currentDirectory() {
    std::unique_ptr<char, decltype(&free)> cwd(getcwd(nullptr, 0), &free);
    return cwd ? std::string(cwd.get()) : std::string("/");
}

std::string joinedWithCurrentDirectory(std::string_view path) {
    if (!path.empty() && path.front() == '/') {
        return std::string(path);
    }
    return currentDirectory() + "/" + std::string(path);
}

// The number of leading components of `parts` (an absolute path) that exist, symbolic links
// followed as resolution follows them. Each step opens one component beneath the last, so the
// cost grows with the number of components, not with its square as resolving every prefix
// would.
size_t existingPrefixLength(const std::vector<std::string_view>& parts) {
    int current = ::open("/", O_PATH | O_DIRECTORY | O_CLOEXEC);
    size_t count = 0;
    std::string name;
    while (current >= 0 && count < parts.size()) {
        name.assign(parts[count]);
        const int next = ::openat(current, name.c_str(), O_PATH | O_CLOEXEC);
        ::close(current);
        current = next;
        if (next >= 0) {
            ++count;
        }
    }
    if (current >= 0) {
        ::close(current);
    }
    return count;
}

std::string realPath(const std::string& path) {
    char buffer[PATH_MAX];
    if (::realpath(path.c_str(), buffer) == nullptr) {
        return {};
    }
    return buffer;
}

}  // namespace

std::string absolute(std::string_view path) {
    return normalize(joinedWithCurrentDirectory(path));
}

std::string normalize(std::string_view path) {
    const bool rooted = !path.empty() && path.front() == '/';
    std::vector<std::string_view> kept;
    for (std::string_view part : components(path)) {
        if (part == ".") {
            continue;
        }
        if (part == "..") {
            if (!kept.empty() && kept.back() != "..") {
                kept.pop_back();
            } else if (!rooted) {
                kept.push_back(part);  // a relative path may climb above its start
            }
            continue;
        }
        kept.push_back(part);
    }
    std::string out = rooted ? "/" : "";
    for (size_t i = 0; i < kept.size(); ++i) {
        if (i > 0) {
            out.push_back('/');
        }
        out.append(kept[i]);
    }
    if (out.empty()) {
        out = ".";
    }
    return out;
}

std::string resolveSymlinks(std::string_view path) {
    const std::string full = joinedWithCurrentDirectory(path);
    if (full.size() >= PATH_MAX) {
        // No call of the system takes such a path, so nothing could be found along it.
        throwError(
            kCocoaErrorDomain, kFileReadInvalidFileName,
            "The file \u201c" + lastComponent(full) +
                "\u201d couldn\u2019t be opened because its path is longer than the " +
                std::to_string(PATH_MAX) + " bytes the system allows.",
            full.substr(0, 256) + "\u2026: path of " + std::to_string(full.size()) + " bytes");
    }
    std::string resolved = realPath(full);
    if (!resolved.empty()) {
        return resolved;
    }
    const std::vector<std::string_view> parts = components(full);
    const size_t existing = existingPrefixLength(parts);
    std::string prefix = "/";
    for (size_t i = 0; i < existing; ++i) {
        prefix.append(parts[i]).push_back('/');
    }
    resolved = realPath(prefix);
    if (resolved.empty()) {
        return normalize(full);  // the prefix went away meanwhile; nothing to resolve
    }
    for (size_t i = existing; i < parts.size(); ++i) {
        resolved.push_back('/');
        resolved.append(parts[i]);
    }
    return normalize(resolved);
}

std::string join(std::string_view directory, std::string_view name) {
    while (!name.empty() && name.front() == '/') {
        name.remove_prefix(1);
    }
    if (directory.empty()) {
        return std::string(name);
    }
    std::string out(directory);
    if (name.empty()) {
        return out;
    }
    if (out.back() != '/') {
        out.push_back('/');
    }
    out.append(name);
    return out;
}

std::string parent(std::string_view path) {
    const std::string clean = cleaned(path);
    const size_t slash = clean.rfind('/');
    if (slash == std::string::npos) {
        return {};
    }
    if (slash == 0) {
        return "/";
    }
    return clean.substr(0, slash);
}

std::string lastComponent(std::string_view path) {
    const std::string clean = cleaned(path);
    if (clean == "/") {
        return clean;
    }
    const size_t slash = clean.rfind('/');
    return slash == std::string::npos ? clean : clean.substr(slash + 1);
}

std::string extension(std::string_view name) {
    const std::string last = lastComponent(name);
    const size_t dot = last.rfind('.');
    if (dot == std::string::npos || dot == 0 || dot + 1 == last.size()) {
        return {};
    }
    std::string ext = last.substr(dot + 1);
    if (ext.find(' ') != std::string::npos) {
        return {};
    }
    return ext;
}

std::string deletingExtension(std::string_view name) {
    std::string clean = cleaned(name);
    const std::string ext = extension(clean);
    if (!ext.empty()) {
        clean.resize(clean.size() - ext.size() - 1);
    }
    return clean;
}

}  // namespace tavro::platform::paths

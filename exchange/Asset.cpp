// SPDX-License-Identifier: MIT
#include "exchange/Asset.h"

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <climits>

#include "exchange/AssetDigestCache.h"
#include "exchange/AssetLookahead.h"
#include "platform/BridgeError.h"
#include "platform/Error.h"
#include "platform/Paths.h"
#include "platform/Sha256.h"
#include "platform/Time.h"

namespace tavro::exchange {

namespace paths = platform::paths;

namespace {

std::string descriptorPath(int fd) {
    return "/proc/self/fd/" + std::to_string(fd);
}

// Where the file open on `fd` actually is: the kernel's own record of the file that was
// opened, whatever links led there and whatever happened to those names since.
std::string locationOf(int fd, const std::string& requested) {
    char buffer[PATH_MAX];
    const ssize_t length = ::readlink(descriptorPath(fd).c_str(), buffer, sizeof buffer);
    if (length < 0 || static_cast<size_t>(length) >= sizeof buffer) {
        platform::throwFileError(length < 0 ? errno : ENAMETOOLONG, requested, "opened");
    }
    return std::string(buffer, static_cast<size_t>(length));
}

// Descriptors held open by pending contents, and how many may be: a library's first import
// may bring thousands of files, and the process's descriptors are shared with its host.
std::atomic<size_t> heldDescriptors{0};

size_t descriptorBudget() {
    static const size_t budget = [] {
        struct rlimit limit {};
        if (::getrlimit(RLIMIT_NOFILE, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY) {
            return size_t{256};
        }
        return static_cast<size_t>(limit.rlim_cur / 4);
    }();
    return budget;
}

// The pending bytes of a checked file, with the descriptor it was checked and hashed through.
// The store copies pending files by path when it saves; "/proc/self/fd/N" opens the very file
// behind descriptor N, so the copy reads the file that was checked even if its name now leads
// elsewhere. The descriptor closes when the last copy of the content lets go of it.
class HeldFile {
  public:
    explicit HeldFile(int fd) : pending{descriptorPath(fd), {}}, fd_(fd) {}
    ~HeldFile() {
        ::close(fd_);
        --heldDescriptors;
    }
    HeldFile(const HeldFile&) = delete;
    HeldFile& operator=(const HeldFile&) = delete;

    const model::Content::Pending pending;

  private:
    int fd_;
};

// Pending content that reads the file open on `file`. Past the descriptor budget the file is
// closed and named by its checked location instead; the copy then opens it again, takes only a
// regular file, and verifies that the bytes have the digest that was computed here, so the
// blob still holds exactly the bytes read from the checked file or the save fails.
model::Content pendingContent(platform::ReadableFile file, const std::string& location,
                              std::string sha256, uint64_t size) {
    model::Content content;
    content.sha256 = std::move(sha256);
    content.size = size;
    if (++heldDescriptors > descriptorBudget()) {
        --heldDescriptors;
        content.pending =
            std::make_shared<const model::Content::Pending>(model::Content::Pending{location, {}});
        return content;
    }
    auto held = std::make_shared<HeldFile>(file.release());
    content.pending = std::shared_ptr<const model::Content::Pending>(held, &held->pending);
    return content;
}

}  // namespace

AssetReader::AssetReader(platform::FileSystem& fileSystem, std::string_view directory,
                         AssetDigestCache* cache)
    : fileSystem_(fileSystem),
      cache_(cache),
      rootWithSlash_(paths::resolveSymlinks(directory) + "/"),
      root_(::open(rootWithSlash_.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC)) {}

bool AssetReader::isInside(const std::string& resolved) const {
    return resolved.size() > rootWithSlash_.size() &&
           resolved.compare(0, rootWithSlash_.size(), rootWithSlash_) == 0;
}

std::string AssetReader::confine(std::string_view requestedPath) const {
    // Both sides are resolved, so neither ".." nor a link inside the directory can reach a file
    // outside it, while a link from outside that lands inside is accepted. A missing file is
    // still resolved lexically: outside the directory it is refused like any other path, so a
    // host cannot probe what exists elsewhere.
    std::string candidate = paths::resolveSymlinks(requestedPath);
    if (!isInside(candidate)) {
        throw platform::BridgeError(platform::message::kInvalidAssetPath);
    }
    return candidate;
}

platform::ReadableFile AssetReader::open(const std::string& candidate,
                                         std::string& location) const {
    // The name was checked, but it may be swapped for a link before it is opened. So the file
    // is opened once, and where the opened file really lies is checked again; every later read
    // goes through this descriptor. Opening never blocks, and the location is checked before
    // the kind of file, so that nothing is said about a file outside the directory.
    platform::ReadableFile file = [&] {
        try {
            return platform::ReadableFile(candidate);
        } catch (const platform::Error&) {
            location = paths::resolveSymlinks(candidate);
            if (!isInside(location)) {
                throw platform::BridgeError(platform::message::kInvalidAssetPath);
            }
            throw;
        }
    }();
    location = locationOf(file.descriptor(), candidate);
    if (!isInside(location)) {
        throw platform::BridgeError(platform::message::kInvalidAssetPath);
    }
    return file;
}

std::optional<platform::ReadableFile> AssetReader::openPlainly(
    std::string_view requestedPath) const {
    if (!root_.valid() || requestedPath.size() <= rootWithSlash_.size() ||
        requestedPath.compare(0, rootWithSlash_.size(), rootWithSlash_) != 0) {
        return std::nullopt;
    }
    const std::string_view relative = requestedPath.substr(rootWithSlash_.size());
    for (size_t start = 0; start <= relative.size();) {
        const size_t end = std::min(relative.find('/', start), relative.size());
        const std::string_view component = relative.substr(start, end - start);
        if (component.empty() || component == "." || component == "..") {
            return std::nullopt;
        }
        start = end + 1;
    }
    return platform::ReadableFile::openBeneath(root_.get(), relative, std::string(requestedPath));
}

model::Content AssetReader::hash(platform::ReadableFile file, const std::string& location) {
    const struct stat before = file.status();
    if (cache_) {
        if (auto digest = cache_->find(location, before)) {
            return pendingContent(std::move(file), location, std::move(digest->sha256),
                                  digest->size);
        }
    }
    double start = platform::now();
    platform::Sha256 hash;
    uint64_t size = 0;
    file.readChunks([&](std::string_view chunk) {
        hash.update(chunk);
        size += chunk.size();
    });
    std::string sha256 = hash.finishHex();
    if (cache_) {
        cache_->remember(location, before, file.status(), start, {sha256, size});
    }
    return pendingContent(std::move(file), location, std::move(sha256), size);
}

std::optional<model::Content> AssetReader::read(const platform::json::Fields& record,
                                                std::string_view key) {
    auto requested = platform::json::asString(record.get(key));
    if (!requested) {
        return std::nullopt;
    }
    if (lookahead_) {
        if (auto reading = lookahead_->take(requested->data())) {
            if (reading->error) {
                std::rethrow_exception(reading->error);
            }
            return std::move(reading->content);
        }
    }
    return readNow(*requested);
}

model::Content AssetReader::readNow(std::string_view requested) {
    // A plain name opened beneath the directory is where it says: that is the location the
    // general route below would find, after resolving every component and asking the kernel.
    if (auto file = openPlainly(requested)) {
        return hash(std::move(*file), std::string(requested));
    }
    std::string location;
    platform::ReadableFile file = open(confine(requested), location);
    return hash(std::move(file), location);
}

}  // namespace tavro::exchange

// SPDX-License-Identifier: MIT
#include "model/Content.h"

#include "platform/Sha256.h"

namespace tavro::model {

Content Content::fromFile(std::string path, std::string sha256, uint64_t size) {
    Content content;
    content.sha256 = std::move(sha256);
    content.size = size;
    content.pending = std::make_shared<const Pending>(Pending{std::move(path), {}});
    return content;
}

Content Content::fromBytes(std::string bytes) {
    Content content;
    content.sha256 = platform::sha256Hex(bytes);
    content.size = bytes.size();
    content.pending = std::make_shared<const Pending>(Pending{{}, std::move(bytes)});
    return content;
}

Content Content::stored(std::string sha256, uint64_t size) {
    Content content;
    content.sha256 = std::move(sha256);
    content.size = size;
    return content;
}

}  // namespace tavro::model

// SPDX-License-Identifier: MIT
#pragma once
// SHA-256 digests as 64 lower-case hexadecimal digits, the form every digest of the exchange
// uses. Content is hashed while it streams; nothing needs a whole file in memory.

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

namespace tavro::platform {

std::string sha256Hex(std::string_view bytes);
std::string toHex(const uint8_t* bytes, size_t count);

// Incremental hashing. Not copyable; one per stream.
class Sha256 {
public:
    Sha256();
    ~Sha256();
    Sha256(const Sha256&) = delete;
    Sha256& operator=(const Sha256&) = delete;

    void update(std::string_view bytes);
    std::array<uint8_t, 32> finish();
    std::string finishHex();

private:
    struct Context;
    std::unique_ptr<Context> context_;
};

// The digest of a file's bytes, read in chunks. Throws the file system's error.
std::string sha256HexOfFile(const std::string& path);

}  // namespace tavro::platform

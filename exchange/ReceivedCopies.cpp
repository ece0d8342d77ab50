// SPDX-License-Identifier: MIT
#include "exchange/ReceivedCopies.h"

#include <exception>
#include <future>
#include <iterator>
#include <system_error>

namespace tavro::exchange {

using Copies = std::vector<platform::FileSystem::FileCopy>;

void writeReceivedCopies(platform::FileSystem& fileSystem, const platform::OpenFolder& folder,
                         Copies copies) {
    if (copies.size() < kSharedFrom) {
        fileSystem.copyFilesInto(folder, copies);
        return;
    }
    const auto middle = copies.begin() + static_cast<std::ptrdiff_t>(copies.size() / 2);
    Copies other(std::make_move_iterator(middle), std::make_move_iterator(copies.end()));
    copies.erase(middle, copies.end());
    std::future<void> otherWritten;
    try {
        otherWritten = std::async(std::launch::async, [&fileSystem, &folder, &other] {
            fileSystem.copyFilesInto(folder, other);
        });
    } catch (const std::system_error&) {
        // No thread to be had: one after the other, here.
        fileSystem.copyFilesInto(folder, copies);
        fileSystem.copyFilesInto(folder, other);
        return;
    }
    std::exception_ptr failure;
    try {
        fileSystem.copyFilesInto(folder, copies);
    } catch (...) {
        failure = std::current_exception();
    }
    try {
        otherWritten.get();
    } catch (...) {
        if (!failure) {
            failure = std::current_exception();
        }
    }
    if (failure) {
        std::rethrow_exception(failure);
    }
}

}  // namespace tavro::exchange

// SPDX-License-Identifier: MIT
#include "exchange/ReceivedCopies.h"

#include <exception>
#include <future>
#include <iterator>

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
    // When no thread is to be had, the other half is written at the wait for it, after this one.
    std::future<void> otherWritten =
        std::async(std::launch::async | std::launch::deferred,
                   [&fileSystem, &folder, &other] { fileSystem.copyFilesInto(folder, other); });
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

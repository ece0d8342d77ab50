// SPDX-License-Identifier: MIT
#include "platform/Prefault.h"

#include <gtest/gtest.h>
#include <sys/mman.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <thread>
#include <vector>

namespace tavro::platform {
namespace {

constexpr size_t kMiB = size_t{1} << 20;

// Anonymous memory in 4 KiB pages, so that residency is seen page by page.
class Mapping {
  public:
    explicit Mapping(size_t bytes) : bytes_(bytes) {
        void* memory =
            ::mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        begin_ = memory == MAP_FAILED ? nullptr : static_cast<char*>(memory);
        if (begin_ != nullptr) {
            ::madvise(begin_, bytes, MADV_NOHUGEPAGE);
        }
    }
    ~Mapping() {
        if (begin_ != nullptr) {
            ::munmap(begin_, bytes_);
        }
    }
    char* begin() const { return begin_; }

    // Resident pages of [from, to).
    size_t residentPages(size_t from, size_t to) const {
        std::vector<unsigned char> pages((to - from) / 4096);
        if (::mincore(begin_ + from, to - from, pages.data()) != 0) {
            return 0;
        }
        size_t resident = 0;
        for (unsigned char page : pages) {
            resident += page & 1;
        }
        return resident;
    }

  private:
    size_t bytes_;
    char* begin_;
};

bool kernelPopulates() {
    Mapping page(4096);
    return ::madvise(page.begin(), 4096, MADV_POPULATE_WRITE) == 0;
}

// Waits (up to 10 s) until the whole of [from, to) is resident.
bool becomesResident(const Mapping& mapping, size_t from, size_t to) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (mapping.residentPages(from, to) < (to - from) / 4096) {
        if (std::chrono::steady_clock::now() > deadline) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

// A buffer of unknown final length is faulted in only the lead beyond what was written (a
// page faulted in and never written is memory held for nothing), never over what was written,
// and no further once it moved.
TEST(PrefaultTest, ABufferIsFaultedInOnlyALittleAheadOfItsWriting) {
    if (!kernelPopulates()) {
        GTEST_SKIP() << "this kernel cannot populate memory ahead";
    }
    Mapping buffer(64 * kMiB);
    ASSERT_NE(buffer.begin(), nullptr);
    Prefault prefault = Prefault::ahead(buffer.begin(), 64 * kMiB, 8 * kMiB);
    std::memset(buffer.begin(), 'w', 4 * kMiB);
    prefault.reached(buffer.begin(), 4 * kMiB);
    ASSERT_TRUE(becomesResident(buffer, 0, 12 * kMiB));
    EXPECT_EQ(buffer.residentPages(12 * kMiB + 4096, 64 * kMiB), 0u);
    EXPECT_EQ(std::memchr(buffer.begin(), 0, 4 * kMiB), nullptr);  // what was written stays

    std::memset(buffer.begin() + 4 * kMiB, 'w', 6 * kMiB);
    prefault.reached(buffer.begin() + 1, 10 * kMiB);  // the buffer moved: no more faulting
    prefault.stop();
    EXPECT_EQ(buffer.residentPages(12 * kMiB + 4096, 64 * kMiB), 0u);
}

TEST(PrefaultTest, RegionsAreFaultedInWholeAndStoppingEndsTheFaulting) {
    if (!kernelPopulates()) {
        GTEST_SKIP() << "this kernel cannot populate memory ahead";
    }
    Mapping first(8 * kMiB), second(8 * kMiB);
    ASSERT_NE(first.begin(), nullptr);
    ASSERT_NE(second.begin(), nullptr);
    {
        Prefault prefault({{first.begin(), 8 * kMiB}, {second.begin() + 100, 4 * kMiB}});
        EXPECT_TRUE(becomesResident(second, 4096, 4 * kMiB));
    }
    EXPECT_EQ(first.residentPages(0, 8 * kMiB), 8 * kMiB / 4096);
    EXPECT_EQ(second.residentPages(4 * kMiB + 4096, 8 * kMiB), 0u);

    Prefault stopped({{first.begin(), 8 * kMiB}});
    stopped.stop();
    stopped.stop();  // again: nothing to do
}

}  // namespace
}  // namespace tavro::platform

// SPDX-License-Identifier: MIT
// Exchanges started while the process lacks the resources to serve them (no room for the
// library's thread, for a copy of the request, or for the parser's buffers) are each answered
// exactly once, and running out of memory is said as such. Runs the probe, which lowers its
// own address-space limit, in a process of its own.

#include <gtest/gtest.h>

#include <map>
#include <sstream>
#include <string>

#include "bridge/ErrorEnvelope.h"
#include "support/ChildProcess.h"
#include "support/TempDir.h"

namespace tavro {
namespace {

constexpr const char* kInvalidRequest = R"({"version":1,"error":"Invalid bridge request."})";

// Every answer the probe printed, by context, in arrival order.
std::multimap<long, std::string> answersOf(const std::string& output) {
    std::multimap<long, std::string> answers;
    std::istringstream lines(output);
    for (std::string line; std::getline(lines, line);) {
        const size_t space = line.find(' ');
        answers.emplace(std::stol(line.substr(0, space)), line.substr(space + 1));
    }
    return answers;
}

TEST(ExchangeResources, EveryExchangeIsAnsweredOnceAndLackOfMemoryIsNamed) {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    GTEST_SKIP() << "the sanitizers' own reservations do not survive an address-space limit";
#endif
    test::TempDir temp;
    test::ProcessOutcome outcome =
        test::ChildProcess(TAVRO_RESOURCES_PROBE_PATH, {}, temp.file("probe")).wait();
    ASSERT_TRUE(outcome.succeeded()) << outcome.summary() << "; output: " << outcome.out;
    auto answers = answersOf(outcome.out);
    ASSERT_EQ(answers.size(), 5u) << outcome.out;
    for (long context = 1; context <= 5; ++context) {
        ASSERT_EQ(answers.count(context), 1u) << "context " << context << " in " << outcome.out;
    }
    // Started while no thread could be started, then when the thread could start again.
    EXPECT_EQ(answers.find(1)->second, kInvalidRequest);
    EXPECT_EQ(answers.find(3)->second, kInvalidRequest);
    EXPECT_EQ(answers.find(5)->second, kInvalidRequest);
    // The request could not be copied; the parser could not get room for a valid request.
    EXPECT_EQ(answers.find(2)->second, bridge::kOutOfMemoryEnvelope);
    EXPECT_EQ(answers.find(4)->second, bridge::kOutOfMemoryEnvelope);
}

}  // namespace
}  // namespace tavro

// SPDX-License-Identifier: MIT
// How an exchange reaches the host: copied at once, answered exactly once through the
// callback, on the library's own thread, after the export has returned. Uses the real
// library through dlopen, as a host does.

#include <dlfcn.h>
#include <gtest/gtest.h>

#include <condition_variable>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "platform/Json.h"
#include "support/WireCapture.h"
#include "tavro/AppleBridge.h"

namespace {

using ExchangeFunction = void (*)(const char*, intptr_t, tavro_apple_exchange_callback);

struct Answer {
    intptr_t context;
    std::string response;
    std::thread::id thread;
};

// Everything the callbacks see, guarded for the test thread that waits on it.
std::mutex answersLock;
std::condition_variable answered;
std::vector<Answer> answers;

void record(intptr_t context, const char* response) {
    if (response) {
        tavro::test::captureWireText(tavro::test::WireText::Answer, response);
    }
    std::lock_guard lock(answersLock);
    answers.push_back({context, response ? response : "<null>", std::this_thread::get_id()});
    answered.notify_all();
}

std::vector<Answer> waitForAnswers(size_t count) {
    std::unique_lock lock(answersLock);
    answered.wait(lock, [&] { return answers.size() >= count; });
    return answers;
}

class ExchangeFramingTest : public ::testing::Test {
  protected:
    void SetUp() override {
        handle_ = ::dlopen(TAVRO_LIBRARY_PATH, RTLD_NOW | RTLD_LOCAL);
        ASSERT_NE(handle_, nullptr) << ::dlerror();
        exchange_ = reinterpret_cast<ExchangeFunction>(::dlsym(handle_, "tavro_apple_exchange"));
        ASSERT_NE(exchange_, nullptr);
        std::lock_guard lock(answersLock);
        answers.clear();
    }
    // The library is never unloaded: its executor thread lives for the whole process.

    // The "error" member of an envelope, or nothing when `response` is not one.
    static std::optional<std::string> envelopeError(const std::string& response) {
        tavro::platform::json::Parser parser;
        auto object = tavro::platform::json::asObject(parser.parse(response));
        if (!object) {
            return std::nullopt;
        }
        auto version =
            tavro::platform::json::asInteger(tavro::platform::json::member(*object, "version"));
        auto error =
            tavro::platform::json::asString(tavro::platform::json::member(*object, "error"));
        if (!version || *version != 1 || !error) {
            return std::nullopt;
        }
        return std::string(*error);
    }

    void* handle_ = nullptr;
    ExchangeFunction exchange_ = nullptr;
};

TEST_F(ExchangeFramingTest, EveryCallGetsExactlyOneCallbackWithItsContext) {
    exchange_("[]", 1, record);
    exchange_("[]", 2, record);
    auto seen = waitForAnswers(2);
    ASSERT_EQ(seen.size(), 2u);
    std::set<intptr_t> contexts{seen[0].context, seen[1].context};
    EXPECT_EQ(contexts, (std::set<intptr_t>{1, 2}));
    for (const Answer& answer : seen) {
        EXPECT_NE(answer.thread, std::this_thread::get_id());
        EXPECT_EQ(envelopeError(answer.response), "Invalid bridge request.") << answer.response;
        // Compact, the two members in either order.
        EXPECT_TRUE(answer.response == R"({"version":1,"error":"Invalid bridge request."})" ||
                    answer.response == R"({"error":"Invalid bridge request.","version":1})")
            << answer.response;
    }
    EXPECT_EQ(seen[0].thread, seen[1].thread);  // one executor thread
}

TEST_F(ExchangeFramingTest, RequestsThatAreNotJsonGetTheParsersDescription) {
    const std::string parseFailure =
        "The data couldn\u2019t be read because it isn\u2019t in the correct format.";
    // The caller's buffer is reused at once; the library must have taken a copy.
    std::string request = "not json";
    exchange_(request.c_str(), 10, record);
    request.assign(request.size(), 'x');
    exchange_("", 11, record);
    exchange_("{\"a\":\"\xff\xfe\"", 12, record);  // ill-formed UTF-8 and unterminated
    exchange_(nullptr, 13, record);
    exchange_("{}", 14, nullptr);  // no callback: nothing to answer, nothing to crash
    auto seen = waitForAnswers(4);
    ASSERT_EQ(seen.size(), 4u);
    for (const Answer& answer : seen) {
        EXPECT_EQ(envelopeError(answer.response), parseFailure)
            << answer.context << ": " << answer.response;
    }
}

// A host whose own main thread is the library's thread: an exchange started inside a callback
// is answered only after that callback (and so the export) has returned.
struct Nested {
    ExchangeFunction exchange;
    bool outerReturned = false;
    bool innerSawOuterReturned = false;
};
Nested* nested = nullptr;

void innerCallback(intptr_t context, const char* response) {
    nested->innerSawOuterReturned = nested->outerReturned;
    record(context, response);
}

void outerCallback(intptr_t context, const char* response) {
    nested->exchange("[]", 21, innerCallback);
    nested->outerReturned = true;
    record(context, response);
}

TEST_F(ExchangeFramingTest, CallbackNeverRunsInsideTheExport) {
    Nested state{exchange_};
    nested = &state;
    exchange_("[]", 20, outerCallback);
    auto seen = waitForAnswers(2);
    ASSERT_EQ(seen.size(), 2u);
    EXPECT_EQ(seen[0].context, 20);
    EXPECT_EQ(seen[1].context, 21);
    EXPECT_TRUE(state.innerSawOuterReturned);
    nested = nullptr;
}

}  // namespace

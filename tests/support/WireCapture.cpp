// SPDX-License-Identifier: MIT
#include "support/WireCapture.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace tavro::test {

namespace {

const char* prefix(WireText kind) {
    switch (kind) {
        case WireText::Request:
            return "request";
        case WireText::RefusedRequest:
            return "refused-request";
        case WireText::Response:
            return "response";
        case WireText::Envelope:
            return "envelope";
        case WireText::Answer:
            return "answer";
    }
    return "unknown";
}

// The test's name, so that a failed validation points at the test that produced the text.
std::string currentTest() {
    const ::testing::TestInfo* info = ::testing::UnitTest::GetInstance()->current_test_info();
    std::string name = info ? std::string(info->test_suite_name()) + "." + info->name() : "none";
    for (char& c : name) {
        if (c == '/') {
            c = '_';  // parameterised tests
        }
    }
    return name;
}

}  // namespace

void captureWireText(WireText kind, std::string_view text) {
    const char* folder = std::getenv("TAVRO_WIRE_CAPTURE_DIR");
    if (!folder || !*folder) {
        return;
    }
    // Callbacks arrive on the library's thread and tests of several programs run at once: the
    // process id and a counter keep every name distinct.
    static std::atomic<unsigned> counter{0};
    std::string base = std::string(folder) + "/" + prefix(kind) + "-" + currentTest() + "-" +
                       std::to_string(::getpid()) + "-" + std::to_string(counter++);
    // Written under a temporary name first, so the check never reads half a file.
    std::string temporary = base + ".part";
    std::FILE* file = std::fopen(temporary.c_str(), "wb");
    bool written = file && std::fwrite(text.data(), 1, text.size(), file) == text.size();
    written = file && std::fclose(file) == 0 && written;
    if (!written || std::rename(temporary.c_str(), (base + ".json").c_str()) != 0) {
        ADD_FAILURE() << "could not hand the exchange text to the wire-format check in " << folder;
    }
}

}  // namespace tavro::test

// SPDX-License-Identifier: MIT
// The widget tests' entry: one QApplication for every test, on the offscreen platform unless
// the environment names another, so that the tests run without a display. The platform is
// chosen on the application's command line rather than in the environment, which the tests
// leave as they found it.

#include <stdlib.h>

#include <gtest/gtest.h>
#include <QApplication>
#include <vector>

int main(int argc, char** argv) {
    std::vector<char*> arguments(argv, argv + argc);
    char platformOption[] = "-platform";
    char offscreen[] = "offscreen";
    if (!getenv("QT_QPA_PLATFORM"))
        arguments.insert(arguments.begin() + (argc > 0 ? 1 : 0), {platformOption, offscreen});
    int count = static_cast<int>(arguments.size());
    arguments.push_back(nullptr);
    QApplication app(count, arguments.data());
    ::testing::InitGoogleTest(&count, arguments.data());
    return RUN_ALL_TESTS();
}

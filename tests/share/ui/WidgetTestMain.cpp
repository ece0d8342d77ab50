// The widget tests' entry: one QApplication for every test, on the offscreen platform unless
// the environment names another, so that the tests run without a display.

#include <stdlib.h>

#include <gtest/gtest.h>
#include <QApplication>

int main(int argc, char** argv) {
    if (!getenv("QT_QPA_PLATFORM"))
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}

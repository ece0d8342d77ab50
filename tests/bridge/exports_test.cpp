// SPDX-License-Identifier: MIT
// What the shared library shows the dynamic linker: the four exports and nothing else, and a
// SONAME so that hosts bind to the ABI version.

#include <gtest/gtest.h>

#include <cstdio>
#include <set>
#include <sstream>
#include <string>

namespace {

std::string commandOutput(const std::string& command) {
    std::string output;
    FILE* pipe = ::popen(command.c_str(), "r");
    if (pipe == nullptr) {
        return output;
    }
    char buffer[4096];
    for (size_t n; (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;) {
        output.append(buffer, n);
    }
    EXPECT_EQ(::pclose(pipe), 0) << command;
    return output;
}

TEST(SharedLibrary, DefinesOnlyTheTavroAppleExports) {
    std::istringstream lines(
        commandOutput(std::string("nm -D --defined-only '") + TAVRO_LIBRARY_PATH + "'"));
    std::set<std::string> functions;
    for (std::string line; std::getline(lines, line);) {
        std::istringstream fields(line);
        std::string address, type, name;
        fields >> address >> type >> name;
        if (type == "A") {
            continue;  // the version script's node name, not a symbol of the code
        }
        name = name.substr(0, name.find('@'));
        EXPECT_TRUE(name.starts_with("tavro_apple_")) << "exported: " << line;
        if (type == "T") {
            functions.insert(name);
        }
    }
    EXPECT_EQ(functions,
              (std::set<std::string>{"tavro_apple_cloud_available", "tavro_apple_exchange",
                                     "tavro_apple_free", "tavro_apple_group_path"}));
}

TEST(SharedLibrary, HasASoname) {
    std::string dynamic = commandOutput(std::string("readelf -d '") + TAVRO_LIBRARY_PATH + "'");
    EXPECT_NE(dynamic.find("(SONAME)"), std::string::npos) << dynamic;
    EXPECT_NE(dynamic.find("Library soname: [libTavroApple.so."), std::string::npos) << dynamic;
}

}  // namespace

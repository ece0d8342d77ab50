// SPDX-License-Identifier: MIT
// The two synchronous exports of the real library, each case in a fresh process with exactly
// the environment it names: the probe program loads the library with dlopen and prints its
// answers.

#include <gtest/gtest.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <map>
#include <sstream>

#include "platform/FileSystem.h"
#include "support/Provisioning.h"
#include "support/TempDir.h"

extern char** environ;

namespace tavro {
namespace {

using test::entitlementsPlist;
using test::plistKey;
using test::plistString;
using test::plistStrings;

constexpr const char* kGroup = TAVRO_EXPECTED_APP_GROUP;
constexpr const char* kContainer = TAVRO_EXPECTED_ICLOUD_CONTAINER;

struct Answers {
    std::string groupPath;  // "(null)" for NULL
    std::string cloudAvailable;
};

// Runs `program` with only `environment` (plus the sanitizers' settings, so that a sanitized
// build checks the child too) and reads the probe's two lines.
Answers runProbe(const std::string& program,
                 const std::map<std::string, std::string>& environment) {
    std::vector<std::string> entries;
    for (const auto& [name, value] : environment) {
        entries.push_back(name + "=" + value);
    }
    for (const char* passed : {"ASAN_OPTIONS", "UBSAN_OPTIONS", "LSAN_OPTIONS"}) {
        if (const char* value = std::getenv(passed)) {
            entries.push_back(std::string(passed) + "=" + value);
        }
    }
    std::vector<char*> envp;
    for (auto& entry : entries) {
        envp.push_back(entry.data());
    }
    envp.push_back(nullptr);

    int pipeEnds[2];
    EXPECT_EQ(::pipe(pipeEnds), 0);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, pipeEnds[1], STDOUT_FILENO);
    posix_spawn_file_actions_addclose(&actions, pipeEnds[0]);
    std::string library = TAVRO_LIBRARY_PATH;
    char* argv[] = {const_cast<char*>(program.c_str()), library.data(), nullptr};
    pid_t child = 0;
    int spawned = posix_spawn(&child, program.c_str(), &actions, nullptr, argv, envp.data());
    posix_spawn_file_actions_destroy(&actions);
    ::close(pipeEnds[1]);
    EXPECT_EQ(spawned, 0) << program;

    std::string output;
    char buffer[512];
    for (ssize_t n; (n = ::read(pipeEnds[0], buffer, sizeof buffer)) > 0;) {
        output.append(buffer, static_cast<size_t>(n));
    }
    ::close(pipeEnds[0]);
    int status = 0;
    ::waitpid(child, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << output;

    Answers answers;
    std::istringstream lines(output);
    for (std::string line; std::getline(lines, line);) {
        if (line.starts_with("group_path=")) {
            answers.groupPath = line.substr(11);
        } else if (line.starts_with("cloud_available=")) {
            answers.cloudAvailable = line.substr(16);
        }
    }
    return answers;
}

class AvailabilityProcessTest : public ::testing::Test {
  protected:
    void SetUp() override {
        root_ = dir_.path();
        write("full.entitlements", fullEntitlements());
    }

    static std::string fullEntitlements() { return test::fullEntitlements(kGroup, kContainer); }
    std::string write(const std::string& name, const std::string& bytes) {
        std::string path = root_ + "/" + name;
        std::ofstream(path, std::ios::binary) << bytes;
        return path;
    }
    // The environment of a provisioned process; each case changes it.
    std::map<std::string, std::string> provisioned() const {
        return {{"TAVRO_ENTITLEMENTS", root_ + "/full.entitlements"},
                {"XDG_DATA_HOME", root_ + "/data"},
                {"HOME", root_ + "/home"}};
    }
    std::string container(const std::string& dataHome) const {
        return dataHome + "/group-containers/" + kGroup;
    }
    Answers run(const std::map<std::string, std::string>& environment) const {
        return runProbe(TAVRO_PROBE_PATH, environment);
    }

    test::TempDir dir_;
    std::string root_;
};

TEST_F(AvailabilityProcessTest, ProvisionedProcessGetsContainerAndSync) {
    Answers answers = run(provisioned());
    EXPECT_EQ(answers.groupPath, container(root_ + "/data"));
    EXPECT_EQ(answers.cloudAvailable, "1");
    EXPECT_TRUE(platform::FileSystem::real().isDirectory(container(root_ + "/data")));
}

TEST_F(AvailabilityProcessTest, EnvironmentSwitchesDecideBeforeEntitlements) {
    for (const char* value : {"", "0", "false"}) {
        auto environment = provisioned();
        environment["TAVRO_DISABLE_CLOUDKIT"] = value;
        Answers answers = run(environment);
        EXPECT_EQ(answers.cloudAvailable, "0") << "TAVRO_DISABLE_CLOUDKIT=" << value;
        // The switches are about sync only; the container is still there.
        EXPECT_EQ(answers.groupPath, container(root_ + "/data"));
    }
    for (const char* value : {"no", "No", "NO"}) {
        auto environment = provisioned();
        environment["TAVRO_CLOUDKIT_ENABLED"] = value;
        EXPECT_EQ(run(environment).cloudAvailable, "0") << "TAVRO_CLOUDKIT_ENABLED=" << value;
    }
    for (const char* value : {"0", "false", "", "NO ", "yes"}) {
        auto environment = provisioned();
        environment["TAVRO_CLOUDKIT_ENABLED"] = value;
        EXPECT_EQ(run(environment).cloudAvailable, "1") << "TAVRO_CLOUDKIT_ENABLED=" << value;
        environment["TAVRO_ENTITLEMENTS"] = root_ + "/missing.entitlements";
        EXPECT_EQ(run(environment).cloudAvailable, "0") << "unentitled, enabled=" << value;
    }
}

TEST_F(AvailabilityProcessTest, EachEntitlementIsNeeded) {
    std::string group = plistKey("com.apple.security.application-groups", plistStrings({kGroup}));
    std::string icloud =
        plistKey("com.apple.developer.icloud-container-identifiers", plistStrings({kContainer}));
    std::string services =
        plistKey("com.apple.developer.icloud-services", plistStrings({"CloudKit"}));
    struct Case {
        const char* name;
        std::string members;
        bool hasContainer;
        const char* cloud;
    };
    const Case cases[] = {
        {"group only", group, true, "0"},
        {"no group", icloud + services, false, "0"},
        {"no services", group + icloud, true, "0"},
        {"services as one string",
         group + icloud + plistKey("com.apple.developer.icloud-services", plistString("CloudKit")),
         true, "1"},
        {"group as one string",
         plistKey("com.apple.security.application-groups", plistString(kGroup)) + icloud + services,
         true, "1"},
        {"other group",
         plistKey("com.apple.security.application-groups", plistStrings({"group.other"})) + icloud +
             services,
         false, "0"},
    };
    for (const Case& c : cases) {
        auto environment = provisioned();
        environment["TAVRO_ENTITLEMENTS"] =
            write("case.entitlements", entitlementsPlist(c.members));
        Answers answers = run(environment);
        EXPECT_EQ(answers.groupPath, c.hasContainer ? container(root_ + "/data") : "(null)")
            << c.name;
        EXPECT_EQ(answers.cloudAvailable, c.cloud) << c.name;
    }
}

TEST_F(AvailabilityProcessTest, UnusableEntitlementsMeanNone) {
    const std::pair<const char*, std::string> files[] = {
        {"malformed", fullEntitlements().substr(0, fullEntitlements().size() / 2)},
        {"garbage", std::string("\x00\xff\xfe<plist>", 10)},
        {"empty", ""},
    };
    for (const auto& [name, bytes] : files) {
        auto environment = provisioned();
        environment["TAVRO_ENTITLEMENTS"] = write(std::string(name) + ".entitlements", bytes);
        Answers answers = run(environment);
        EXPECT_EQ(answers.groupPath, "(null)") << name;
        EXPECT_EQ(answers.cloudAvailable, "0") << name;
    }
    auto environment = provisioned();
    environment["TAVRO_ENTITLEMENTS"] = root_ + "/missing.entitlements";
    EXPECT_EQ(run(environment).groupPath, "(null)");
}

TEST_F(AvailabilityProcessTest, WithoutTheVariableTheFileBesideTheExecutableCounts) {
    // A copy of the probe in the sandbox, so that its ".entitlements" file is ours alone.
    std::string probe = root_ + "/probe";
    platform::FileSystem::real().copyFileAtomically(TAVRO_PROBE_PATH, probe);
    ASSERT_EQ(::chmod(probe.c_str(), 0755), 0);

    auto environment = provisioned();
    environment.erase("TAVRO_ENTITLEMENTS");
    Answers before = runProbe(probe, environment);
    EXPECT_EQ(before.groupPath, "(null)");
    EXPECT_EQ(before.cloudAvailable, "0");

    write("probe.entitlements", fullEntitlements());
    Answers unset = runProbe(probe, environment);
    EXPECT_EQ(unset.groupPath, container(root_ + "/data"));
    EXPECT_EQ(unset.cloudAvailable, "1");

    environment["TAVRO_ENTITLEMENTS"] = "";  // empty counts as not set
    EXPECT_EQ(runProbe(probe, environment).cloudAvailable, "1");
}

TEST_F(AvailabilityProcessTest, DataHomeRulesAndUncreatableContainers) {
    auto environment = provisioned();
    environment["XDG_DATA_HOME"] = "relative/share";  // not absolute: ignored
    EXPECT_EQ(run(environment).groupPath, container(root_ + "/home/.local/share"));

    environment.erase("XDG_DATA_HOME");
    EXPECT_EQ(run(environment).groupPath, container(root_ + "/home/.local/share"));

    environment.erase("HOME");
    EXPECT_EQ(run(environment).groupPath, "(null)");

    // Root may create folders anywhere, but never below a regular file.
    write("plain-file", "not a folder");
    environment["XDG_DATA_HOME"] = root_ + "/plain-file/share";
    Answers answers = run(environment);
    EXPECT_EQ(answers.groupPath, "(null)");
    EXPECT_EQ(answers.cloudAvailable, "1");  // sync does not depend on the folder
}

}  // namespace
}  // namespace tavro

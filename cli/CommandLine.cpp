// SPDX-License-Identifier: MIT
#include "cli/CommandLine.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstring>
#include <iostream>
#include <iterator>

#include "platform/Descriptor.h"

namespace tavro::cli {

namespace {

constexpr const char* kNotProvisioned = "This build is not provisioned for iCloud.";
constexpr const char* kSignIn = "Sign in to iCloud in System Settings to sync.";

[[noreturn]] void fail(const std::string& source, int error) {
    throw CommandError(source + ": " + std::strerror(error));
}

using platform::Descriptor;

}  // namespace

std::string readInput(const std::string& source) {
    if (source == "-") {
        std::string text(std::istreambuf_iterator<char>(std::cin), {});
        if (std::cin.bad()) {
            throw CommandError("-: standard input could not be read");
        }
        return text;
    }
    // Opened with the system's calls so that the reason of a failure is the system's own; a
    // folder opens fine and fails only when read, so it is told apart first.
    Descriptor file(::open(source.c_str(), O_RDONLY | O_CLOEXEC));
    if (file.get() < 0) {
        fail(source, errno);
    }
    struct stat status {};
    if (::fstat(file.get(), &status) != 0) {
        fail(source, errno);
    }
    if (S_ISDIR(status.st_mode)) {
        fail(source, EISDIR);
    }
    std::string text;
    char buffer[65536];
    for (;;) {
        ssize_t count = ::read(file.get(), buffer, sizeof buffer);
        if (count < 0) {
            if (errno == EINTR) {
                continue;
            }
            fail(source, errno);
        }
        if (count == 0) {
            return text;
        }
        text.append(buffer, static_cast<size_t>(count));
    }
}

bool isProvisioningError(const std::string& error) {
    return error == kNotProvisioned || error == kSignIn;
}

void printProvisioningHint(const std::string& error, std::ostream& err, const platform::Env& env) {
    if (!isProvisioningError(error)) {
        return;
    }
    std::string entitlements = env.entitlementsPath().value_or("(none: no executable path)");
    std::string account =
        env.cloudAccountPath().value_or("$XDG_CONFIG_HOME/tavro/cloud-account.json");
    auto configured = env.variable("TAVRO_ENTITLEMENTS");
    bool fromVariable = configured && !configured->empty();
    err << "tavro: on Linux, iCloud sync is provisioned by the entitlements file " << entitlements
        << (fromVariable ? " (from TAVRO_ENTITLEMENTS)"
                         : " (set TAVRO_ENTITLEMENTS to use another)")
        << ", which must grant the App Group, the iCloud container and CloudKit, and by the "
           "cloud account file "
        << account << ".\n";
    for (const std::string& file : {entitlements, account}) {
        struct stat status {};
        if (::stat(file.c_str(), &status) != 0) {
            err << "tavro: " << file << ": " << std::strerror(errno) << "\n";
        }
    }
    if (error == kNotProvisioned) {
        if (env.variable("TAVRO_DISABLE_CLOUDKIT")) {
            err << "tavro: TAVRO_DISABLE_CLOUDKIT is set, which turns sync off.\n";
        }
        if (auto enabled = env.variable("TAVRO_CLOUDKIT_ENABLED");
            enabled && enabled->size() == 2 && std::tolower((*enabled)[0]) == 'n' &&
            std::tolower((*enabled)[1]) == 'o') {
            err << "tavro: TAVRO_CLOUDKIT_ENABLED=" << *enabled << " turns sync off.\n";
        }
    } else {
        err << "tavro: a signed-in account is that file holding "
               "{\"status\": \"available\", \"userRecordName\": \"...\"}.\n";
    }
}

}  // namespace tavro::cli

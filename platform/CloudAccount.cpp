// SPDX-License-Identifier: MIT
#include "platform/CloudAccount.h"

#include <array>
#include <optional>
#include <string_view>
#include <utility>

#include "platform/Error.h"
#include "platform/FileSystem.h"
#include "platform/Json.h"
#include "platform/Paths.h"

namespace tavro::platform {

namespace {

// Errors of the account query, as the account service would word them. They are leaves of
// their own (no underlying error) so that the user sees the sentence, not the file detail.
constexpr const char* kUnreadable = "The cloud account file couldn\u2019t be read.";
constexpr const char* kMalformed =
    "The cloud account file couldn\u2019t be read because it isn\u2019t in the correct format.";
constexpr const char* kUnknownStatus =
    "The cloud account file doesn\u2019t name a known account status.";
constexpr const char* kNoUserRecord =
    "The cloud account file doesn\u2019t name the signed-in user\u2019s record.";

// Cocoa's file-reading codes, the nearest the platform has for a bad account file.
constexpr int64_t kReadUnknownCode = 256;
constexpr int64_t kReadCorruptCode = 259;

constexpr std::array<std::pair<std::string_view, AccountStatus>, 5> kStatuses{{
    {"available", AccountStatus::Available},
    {"noAccount", AccountStatus::NoAccount},
    {"restricted", AccountStatus::Restricted},
    {"couldNotDetermine", AccountStatus::CouldNotDetermine},
    {"temporarilyUnavailable", AccountStatus::TemporarilyUnavailable},
}};

// The file's bytes, or nothing when there is no file (which means: not signed in).
std::optional<std::string> readAccountFile(const Env& env) {
    auto path = env.cloudAccountPath();
    FileSystem& files = FileSystem::real();
    if (!path || !files.exists(*path)) {
        return std::nullopt;
    }
    try {
        return files.readFile(*path);
    } catch (const Error& error) {
        throwError(kCocoaErrorDomain, kReadUnknownCode, kUnreadable, error.value()->description());
    }
}

// Parses the file and hands its top-level object to `read`, while the document is alive.
template <typename Read>
auto withAccountObject(const std::string& bytes, Read&& read) {
    json::Parser parser;
    json::Element root;
    try {
        root = parser.parse(bytes);
    } catch (const Error& error) {
        throwError(kCocoaErrorDomain, kReadCorruptCode, kMalformed,
                   error.value()->debugDescription);
    }
    auto object = json::asObject(root);
    if (!object) {
        throwError(kCocoaErrorDomain, kReadCorruptCode, kMalformed, "top level is not an object");
    }
    return read(*object);
}

}  // namespace

AccountStatus cloudAccountStatus(const Env& env) {
    auto bytes = readAccountFile(env);
    if (!bytes) {
        return AccountStatus::NoAccount;
    }
    return withAccountObject(*bytes, [](json::ObjectView account) {
        auto status = json::asString(json::member(account, "status"));
        for (const auto& [name, value] : kStatuses) {
            if (status && *status == name) {
                return value;
            }
        }
        throwError(kCocoaErrorDomain, kReadCorruptCode, kUnknownStatus,
                   status ? std::string(*status) : "no status text");
    });
}

std::string cloudUserRecordName(const Env& env) {
    auto bytes = readAccountFile(env);
    if (!bytes) {
        throwError(kCocoaErrorDomain, kReadCorruptCode, kNoUserRecord, "no account file");
    }
    return withAccountObject(*bytes, [](json::ObjectView account) {
        auto name = json::asString(json::member(account, "userRecordName"));
        // An empty name would make every account look the same to the account guard.
        if (!name || name->empty()) {
            throwError(kCocoaErrorDomain, kReadCorruptCode, kNoUserRecord,
                       "userRecordName is missing, empty or not text");
        }
        return std::string(*name);
    });
}

std::optional<std::string> cloudAccountService(const Env& env) {
    auto bytes = readAccountFile(env);
    if (!bytes) {
        return std::nullopt;
    }
    return withAccountObject(*bytes, [](json::ObjectView account) -> std::optional<std::string> {
        auto service = json::asString(json::member(account, "service"));
        if (!service || service->empty()) {
            return std::nullopt;
        }
        return std::string(*service);
    });
}

}  // namespace tavro::platform

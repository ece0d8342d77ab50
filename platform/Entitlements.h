// SPDX-License-Identifier: MIT
#pragma once
// The running process's code-signing entitlements, stood in for by an XML property list:
// $TAVRO_ENTITLEMENTS when set and not empty, else the executable's path + ".entitlements".
// A missing, unreadable or malformed file means the process has no entitlement handle, so
// every check answers false. Read afresh at every call, through the Env given (the running
// process's own unless a test stands in for it).

#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "platform/Env.h"

namespace tavro::platform {

// An entitlement's value as the platform returns it.
struct EntitlementValue {
    enum class Kind { String, StringArray, Other };
    Kind kind = Kind::Other;
    std::string string;               // for String
    std::vector<std::string> strings; // for StringArray (an array holding only strings)
};

class Entitlements {
public:
    // The handle on the process `env` describes (the running one unless a test stands in for
    // it), or nothing (no file, unreadable, not a dict plist).
    static std::optional<Entitlements> ofRunningProcess(const Env& env = Env::real());
    static std::optional<Entitlements> fromFile(const std::string& path);

    // Nothing when the key is absent.
    std::optional<EntitlementValue> value(const std::string& key) const;

private:
    std::vector<std::pair<std::string, EntitlementValue>> values_;
};

// Whether the process `env` describes holds entitlement `key` with `value`: an array of
// strings holding it, or the single string equal to it.
bool hasEntitlement(const std::string& key, const std::string& value,
                    const Env& env = Env::real());

}  // namespace tavro::platform

#pragma once
// The running process's code-signing entitlements, stood in for by an XML property list:
// $TAVRO_ENTITLEMENTS when set and not empty, else the executable's path + ".entitlements".
// A missing, unreadable or malformed file means the process has no entitlement handle, so
// every check answers false. Read afresh at every call.

#include <optional>
#include <string>
#include <variant>
#include <vector>

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
    // The handle on the running process, or nothing (no file, unreadable, not a dict plist).
    static std::optional<Entitlements> ofRunningProcess();
    static std::optional<Entitlements> fromFile(const std::string& path);

    // Nothing when the key is absent.
    std::optional<EntitlementValue> value(const std::string& key) const;

private:
    std::vector<std::pair<std::string, EntitlementValue>> values_;
};

// Whether the running process holds entitlement `key` with `value`: an array of strings
// holding it, or the single string equal to it.
bool hasEntitlement(const std::string& key, const std::string& value);

}  // namespace tavro::platform

// SPDX-License-Identifier: MIT
#pragma once
// Test helpers for provisioning a process the way the Linux stand-ins read it: environment
// variables set for the length of a scope, and entitlements files.

#include <cstdlib>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace tavro::test {

// Sets or unsets environment variables and restores what was there when the scope ends.
class ScopedEnvironment {
  public:
    ScopedEnvironment() = default;
    ScopedEnvironment(const ScopedEnvironment&) = delete;
    ScopedEnvironment& operator=(const ScopedEnvironment&) = delete;
    ~ScopedEnvironment() {
        for (auto it = saved_.rbegin(); it != saved_.rend(); ++it) {
            apply(it->first, it->second);
        }
    }

    ScopedEnvironment& set(const std::string& name, const std::string& value) {
        remember(name);
        apply(name, value);
        return *this;
    }
    ScopedEnvironment& unset(const std::string& name) {
        remember(name);
        apply(name, std::nullopt);
        return *this;
    }

  private:
    void remember(const std::string& name) {
        const char* old = std::getenv(name.c_str());
        saved_.emplace_back(name, old ? std::optional<std::string>(old) : std::nullopt);
    }
    static void apply(const std::string& name, const std::optional<std::string>& value) {
        if (value) {
            ::setenv(name.c_str(), value->c_str(), 1);
        } else {
            ::unsetenv(name.c_str());
        }
    }

    std::vector<std::pair<std::string, std::optional<std::string>>> saved_;
};

// An XML property list whose top-level dict holds `members` (already written as XML).
inline std::string entitlementsPlist(const std::string& members) {
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
           "<!DOCTYPE plist PUBLIC \"-//Apple//DTD PLIST 1.0//EN\" "
           "\"http://www.apple.com/DTDs/PropertyList-1.0.dtd\">\n"
           "<plist version=\"1.0\">\n<dict>\n" +
           members + "</dict>\n</plist>\n";
}

inline std::string plistKey(const std::string& key, const std::string& valueXml) {
    return "  <key>" + key + "</key>\n  " + valueXml + "\n";
}

inline std::string plistString(const std::string& text) {
    return "<string>" + text + "</string>";
}

inline std::string plistStrings(const std::vector<std::string>& texts) {
    std::string xml = "<array>";
    for (const auto& text : texts) {
        xml += plistString(text);
    }
    return xml + "</array>";
}

// The entitlements of a fully provisioned build: App Group, iCloud container and CloudKit.
inline std::string fullEntitlements(const std::string& group, const std::string& container) {
    return entitlementsPlist(
        plistKey("com.apple.security.application-groups", plistStrings({group})) +
        plistKey("com.apple.developer.icloud-container-identifiers", plistStrings({container})) +
        plistKey("com.apple.developer.icloud-services", plistStrings({"CloudKit"})));
}

}  // namespace tavro::test

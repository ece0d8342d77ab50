// SPDX-License-Identifier: MIT
#include "platform/Entitlements.h"

#include <plist/plist.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <limits>
#include <memory>

#include "platform/Env.h"
#include "platform/FileSystem.h"

namespace tavro::platform {

namespace {

struct PlistDeleter {
    void operator()(plist_t node) const { plist_free(node); }
};
using PlistPtr = std::unique_ptr<void, PlistDeleter>;

std::string stringOf(plist_t node) {
    uint64_t length = 0;
    const char* bytes = plist_get_string_ptr(node, &length);
    return bytes ? std::string(bytes, static_cast<size_t>(length)) : std::string();
}

// An array counts as strings only when every element is one, as a typed cast on the platform
// would; a single other element makes the whole value unusable.
EntitlementValue arrayValue(plist_t array) {
    EntitlementValue result;
    result.kind = EntitlementValue::Kind::StringArray;
    uint32_t count = plist_array_get_size(array);
    for (uint32_t i = 0; i < count; ++i) {
        plist_t item = plist_array_get_item(array, i);
        if (plist_get_node_type(item) != PLIST_STRING) {
            return EntitlementValue{};
        }
        result.strings.push_back(stringOf(item));
    }
    return result;
}

EntitlementValue valueOf(plist_t node) {
    switch (plist_get_node_type(node)) {
        case PLIST_STRING: {
            EntitlementValue result;
            result.kind = EntitlementValue::Kind::String;
            result.string = stringOf(node);
            return result;
        }
        case PLIST_ARRAY:
            return arrayValue(node);
        default:
            return EntitlementValue{};
    }
}

PlistPtr parsePlist(const std::string& bytes) {
    if (bytes.empty() || bytes.size() > std::numeric_limits<uint32_t>::max()) {
        return nullptr;
    }
    plist_t root = nullptr;
    plist_from_memory(bytes.data(), static_cast<uint32_t>(bytes.size()), &root);
    return PlistPtr(root);
}

}  // namespace

std::optional<Entitlements> Entitlements::ofRunningProcess(const Env& env) {
    // The file that stands in for the code signature.
    auto path = env.entitlementsPath();
    if (!path) {
        return std::nullopt;
    }
    return fromFile(*path);
}

std::optional<Entitlements> Entitlements::fromFile(const std::string& path) {
    // Only a regular file: a FIFO or a device named by mistake would block or never end.
    struct stat status {};
    if (::stat(path.c_str(), &status) != 0 || !S_ISREG(status.st_mode)) {
        return std::nullopt;
    }
    std::string bytes;
    try {
        bytes = FileSystem::real().readFile(path);
    } catch (const std::exception&) {
        // Missing or unreadable: the process simply has no entitlements.
        return std::nullopt;
    }
    PlistPtr root = parsePlist(bytes);
    if (!root || plist_get_node_type(root.get()) != PLIST_DICT) {
        return std::nullopt;
    }
    Entitlements result;
    plist_dict_iter iterator = nullptr;
    plist_dict_new_iter(root.get(), &iterator);
    for (;;) {
        char* key = nullptr;
        plist_t node = nullptr;
        plist_dict_next_item(root.get(), iterator, &key, &node);
        if (key == nullptr) {
            break;
        }
        std::string name(key);
        free(key);
        result.values_.emplace_back(std::move(name), valueOf(node));
    }
    free(iterator);
    return result;
}

std::optional<EntitlementValue> Entitlements::value(const std::string& key) const {
    // A dict read from a file may repeat a key; the later entry is the one that counts.
    auto found = std::find_if(values_.rbegin(), values_.rend(),
                              [&](const auto& entry) { return entry.first == key; });
    if (found == values_.rend()) {
        return std::nullopt;
    }
    return found->second;
}

bool hasEntitlement(const std::string& key, const std::string& value, const Env& env) {
    auto entitlements = Entitlements::ofRunningProcess(env);
    if (!entitlements) {
        return false;
    }
    auto entitlement = entitlements->value(key);
    if (!entitlement) {
        return false;
    }
    switch (entitlement->kind) {
        case EntitlementValue::Kind::StringArray:
            return std::find(entitlement->strings.begin(), entitlement->strings.end(), value) !=
                   entitlement->strings.end();
        case EntitlementValue::Kind::String:
            return entitlement->string == value;
        case EntitlementValue::Kind::Other:
            return false;
    }
    return false;
}

}  // namespace tavro::platform

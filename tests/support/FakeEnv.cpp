// SPDX-License-Identifier: MIT
#include "support/FakeEnv.h"

namespace tavro::test {

FakeEnv& FakeEnv::set(const std::string& name, const std::string& value) {
    std::lock_guard lock(mutex_);
    variables_[name] = value;
    return *this;
}

FakeEnv& FakeEnv::unset(const std::string& name) {
    std::lock_guard lock(mutex_);
    variables_.erase(name);
    return *this;
}

FakeEnv& FakeEnv::setExecutablePath(std::optional<std::string> path) {
    std::lock_guard lock(mutex_);
    executablePath_ = std::move(path);
    return *this;
}

FakeEnv& FakeEnv::setNow(platform::Timestamp now) {
    std::lock_guard lock(mutex_);
    now_ = now;
    return *this;
}

std::optional<std::string> FakeEnv::variable(const char* name) const {
    std::lock_guard lock(mutex_);
    auto found = variables_.find(name);
    if (found == variables_.end()) {
        return std::nullopt;
    }
    return found->second;
}

std::optional<std::string> FakeEnv::executablePath() const {
    std::lock_guard lock(mutex_);
    return executablePath_;
}

platform::Timestamp FakeEnv::now() const {
    std::lock_guard lock(mutex_);
    return now_;
}

}  // namespace tavro::test

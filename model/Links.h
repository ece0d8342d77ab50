// SPDX-License-Identifier: MIT
#pragma once
// Small helpers for the unordered inverse lists of relationships.

#include <algorithm>
#include <vector>

namespace tavro::model::links {

template <typename T>
void eraseOne(std::vector<T*>& list, const T* item) {
    auto found = std::find(list.begin(), list.end(), item);
    if (found != list.end()) {
        // Inverse lists carry no order, so the last element may take the gap.
        *found = list.back();
        list.pop_back();
    }
}

template <typename T>
bool contains(const std::vector<T*>& list, const T* item) {
    return std::find(list.begin(), list.end(), item) != list.end();
}

}  // namespace tavro::model::links

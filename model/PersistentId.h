// SPDX-License-Identifier: MIT
#pragma once
// The store's identifier of a record object. Records compare and hash by it alone; `uuid` is
// data shared with the host and may repeat within a store.
//
// A record gets a temporary identifier (a negative row) when it is constructed and its
// permanent one when it is inserted into a unit of work; it keeps that one for good.

#include <cstdint>
#include <functional>

namespace tavro::model {

enum class RecordType : uint8_t { Thing, Tag, Project };

struct PersistentId {
    RecordType type = RecordType::Thing;
    int64_t row = 0;

    bool isTemporary() const { return row < 0; }
    bool operator==(const PersistentId&) const = default;
};

// A process-wide unique negative row for a record that has not been inserted yet.
int64_t nextTemporaryRow();

}  // namespace tavro::model

template <>
struct std::hash<tavro::model::PersistentId> {
    size_t operator()(const tavro::model::PersistentId& id) const noexcept {
        return std::hash<int64_t>()(id.row) * 3 + static_cast<size_t>(id.type);
    }
};

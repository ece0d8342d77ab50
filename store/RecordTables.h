// SPDX-License-Identifier: MIT
#pragma once
// The store's tables as the field tables describe them: one per record type, named as the type,
// with an `id` row key and one column per stored field in schema order (a byte field takes two:
// its digest and its size), every column with the field's default; the tags of a thing in a
// join table in relationship order; an index per byte field for finding a blob's users; and
// the mirror's outbox and server versions (store/Outbox.h).

#include <string>
#include <tuple>

#include "model/ProjectFields.h"
#include "model/TagFields.h"
#include "model/ThingFields.h"

namespace tavro::store::tables {

// The field table of each record type.
template <typename Record>
constexpr const auto& fieldsOf() {
    if constexpr (std::is_same_v<Record, model::Thing>) {
        return model::fields::kThingFields;
    } else if constexpr (std::is_same_v<Record, model::Tag>) {
        return model::fields::kTagFields;
    } else {
        static_assert(std::is_same_v<Record, model::Project>);
        return model::fields::kProjectFields;
    }
}

template <typename Record>
constexpr const char* tableName() {
    if constexpr (std::is_same_v<Record, model::Thing>) {
        return "Thing";
    } else if constexpr (std::is_same_v<Record, model::Tag>) {
        return "Tag";
    } else {
        static_assert(std::is_same_v<Record, model::Project>);
        return "Project";
    }
}

// Every statement that makes the tables and indexes of a new, empty store (the store's
// metadata table included).
std::string createStatements();

// "id, col, col, ..." of every column of a record type's table, in schema order.
template <typename Record>
std::string columnList() {
    std::string list = "id";
    model::fields::forEach(fieldsOf<Record>(), [&](const auto& entry) {
        if constexpr (!model::fields::kIsInverse<decltype(entry)>) {
            for (std::string_view column : entry.columns) {
                if (!column.empty()) {
                    list.append(", ").append(column);
                }
            }
        }
    });
    return list;
}

}  // namespace tavro::store::tables

// SPDX-License-Identifier: MIT
#pragma once
// The building blocks of a record type's field table: one entry per field in schema order,
// saying how the field is kept in its row (column names and default), how the exchange carries
// it (key, and what an absent key means) and where its value lives in the record's state. The
// store's rows and tables, the exchange's reading and writing of records and the conflict copy
// are all driven by these tables, so a new field is one state member, its accessors and one
// table entry.
//
// The tables are tuples, not arrays: every entry keeps its value's type, so the code that walks
// them is expanded per field at compile time and reads and writes the state without any
// conversion at run time.

#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>
#include <tuple>
#include <type_traits>
#include <utility>

namespace tavro::model::fields {

// How a field is kept and carried. Every field of one storage is handled alike everywhere.
enum class Storage {
    Uuid,          // 16 bytes in a BLOB; a NULL reads as a new random identifier
    Text,          // TEXT
    Integer,       // INTEGER
    Real,          // REAL
    Boolean,       // INTEGER, 0 or 1
    Time,          // REAL seconds since 1970, a NULL reads as now; milliseconds in the exchange
    OptionalTime,  // the same, NULL (and left out of the exchange) when absent
    Bytes,         // content: its digest and size in two columns, the bytes in the blob folder;
                   // an asset file in the exchange
    ToOne,         // the target's row id in an INTEGER column; its uuid in the exchange
    ToMany,        // no column (a join table keeps it); the targets' uuids in the exchange
};

// What applying a host record does when it leaves the field's key out.
enum class WhenAbsent {
    Reset,  // the exchange's own default for the storage (empty text, the epoch, ...)
    Keep,   // the stored value stays
};

// Up to two column names; an empty name means no column.
using Columns = std::array<std::string_view, 2>;

// One stored field or forward relationship. `member` is the value in the record's state;
// `setter` is the record's public setter, through which every change is made so that it is
// tracked and announced like any other. `sqlDefault` is the column default as SQL (only for the
// storages whose default is a plain value; the others have fixed defaults).
template <typename State, typename T, typename Setter>
struct Field {
    using StateType = State;
    using Value = T;
    int index;
    std::string_view name;
    Storage storage;
    T State::*member;
    Setter setter;
    Columns columns;
    std::string_view sqlDefault;
    std::string_view key;  // the exchange key; empty when the exchange does not carry it
    WhenAbsent whenAbsent;
};

// The inverse end of a relationship: kept by the other side's setters, with no column and no
// exchange key, but it has a field position of its own (observers hear of it).
struct Inverse {
    int index;
    std::string_view name;
};

template <typename Enum, typename State, typename T, typename Setter>
constexpr auto field(Enum index, std::string_view name, Storage storage, T State::*member,
                     Setter setter, Columns columns, std::string_view sqlDefault,
                     std::string_view key, WhenAbsent whenAbsent = WhenAbsent::Reset) {
    return Field<State, T, Setter>{static_cast<int>(index),
                                   name,
                                   storage,
                                   member,
                                   setter,
                                   columns,
                                   sqlDefault,
                                   key,
                                   whenAbsent};
}

template <typename Enum>
constexpr Inverse inverse(Enum index, std::string_view name) {
    return Inverse{static_cast<int>(index), name};
}

template <typename F>
inline constexpr bool kIsInverse = std::is_same_v<std::remove_cvref_t<F>, Inverse>;

// Calls `each(entry)` for every entry of a table, in schema order.
template <typename Table, typename Each>
constexpr void forEach(const Table& table, Each&& each) {
    std::apply([&](const auto&... entry) { (each(entry), ...); }, table);
}

// Whether each entry sits at the position its enum value names, so that a field's position,
// its enum value and its entry can never disagree.
template <typename Table>
constexpr bool positionsMatch(const Table& table) {
    bool match = true;
    int position = 0;
    forEach(table, [&](const auto& entry) { match = match && entry.index == position++; });
    return match;
}

template <typename Table>
constexpr int countOf(const Table& table, Storage storage) {
    int count = 0;
    forEach(table, [&](const auto& entry) {
        if constexpr (!kIsInverse<decltype(entry)>) {
            count += entry.storage == storage ? 1 : 0;
        }
    });
    return count;
}

// One bit per field of the given storage, by field position.
template <typename Table>
constexpr uint32_t maskOf(const Table& table, Storage storage) {
    uint32_t mask = 0;
    forEach(table, [&](const auto& entry) {
        if constexpr (!kIsInverse<decltype(entry)>) {
            if (entry.storage == storage) {
                mask |= 1u << entry.index;
            }
        }
    });
    return mask;
}

// The exchange keys of the table's fields, in schema order (empty for fields not exchanged).
template <typename Table>
constexpr auto keysOf(const Table& table) {
    std::array<std::string_view, std::tuple_size_v<Table>> keys{};
    size_t i = 0;
    forEach(table, [&](const auto& entry) {
        if constexpr (!kIsInverse<decltype(entry)>) {
            keys[i] = entry.key;
        }
        ++i;
    });
    return keys;
}

}  // namespace tavro::model::fields

// SPDX-License-Identifier: MIT
#include "store/RecordRows.h"

#include <cstring>

#include "store/RecordTables.h"

namespace tavro::store::rows {

namespace {

using model::fields::kIsInverse;
using model::fields::Storage;

// Binds one field at `index`; returns the next index.
template <typename Entry, typename State>
int bindField(sqlite::Statement& statement, int index, const State& state, const Entry& entry) {
    const auto& value = state.*entry.member;
    using Value = std::remove_cvref_t<decltype(value)>;
    if constexpr (std::is_same_v<Value, platform::Uuid>) {
        statement.bindBorrowedBlob(index, value.bytes.data(), value.bytes.size());
    } else if constexpr (std::is_same_v<Value, std::string>) {
        statement.bindBorrowed(index, std::string_view(value));
    } else if constexpr (std::is_same_v<Value, bool>) {
        statement.bind(index, int64_t{value});
    } else if constexpr (std::is_same_v<Value, int64_t> || std::is_same_v<Value, double>) {
        statement.bind(index, value);
    } else if constexpr (std::is_same_v<Value, std::optional<platform::Timestamp>>) {
        if (value) {
            statement.bind(index, *value);
        } else {
            statement.bindNull(index);
        }
    } else if constexpr (std::is_same_v<Value, model::OptionalContent>) {
        if (value) {
            statement.bindBorrowed(index, std::string_view(value->sha256));
            statement.bind(index + 1, static_cast<int64_t>(value->size));
        } else {
            statement.bindNull(index);
            statement.bindNull(index + 1);
        }
        return index + 2;
    } else if constexpr (std::is_pointer_v<Value>) {
        if (value != nullptr) {
            statement.bind(index, value->id().row);
        } else {
            statement.bindNull(index);
        }
    } else {
        static_assert(std::is_same_v<Value, std::vector<model::Tag*>>, "no column for this type");
        return index;  // the join table
    }
    return index + 1;
}

template <typename Table, typename State>
int bindTableFields(sqlite::Statement& statement, int index, const State& state, uint32_t fields,
                    const Table& table) {
    model::fields::forEach(table, [&](const auto& entry) {
        if constexpr (!kIsInverse<decltype(entry)>) {
            if ((fields & (1u << entry.index)) != 0) {
                index = bindField(statement, index, state, entry);
            }
        }
    });
    return index;
}

// The defaults of a record's values as the schema gives them; a NULL column (a value never
// written) reads as these.
template <typename State>
const State& defaults() {
    static const State state{};
    return state;
}

// Reads one field from `column` on; returns the next column. The row id of a to-one
// relationship goes to `targetRow`.
template <typename Entry, typename State>
int readField(const sqlite::Statement& row, int column, State& state, const Entry& entry,
              int64_t& targetRow) {
    auto& value = state.*entry.member;
    using Value = std::remove_cvref_t<decltype(value)>;
    bool null = row.isNull(column);
    if constexpr (std::is_same_v<Value, platform::Uuid>) {
        std::string_view bytes = row.blob(column);
        if (null || bytes.size() != value.bytes.size()) {
            value = platform::Uuid::random();
        } else {
            std::memcpy(value.bytes.data(), bytes.data(), value.bytes.size());
        }
    } else if constexpr (std::is_same_v<Value, std::string>) {
        value = null ? defaults<State>().*entry.member : std::string(row.text(column));
    } else if constexpr (std::is_same_v<Value, bool>) {
        value = null ? defaults<State>().*entry.member : row.integer(column) != 0;
    } else if constexpr (std::is_same_v<Value, int64_t>) {
        value = null ? defaults<State>().*entry.member : row.integer(column);
    } else if constexpr (std::is_same_v<Value, double>) {
        if (entry.storage == Storage::Time) {
            value = null ? platform::now() : row.real(column);
        } else {
            value = null ? defaults<State>().*entry.member : row.real(column);
        }
    } else if constexpr (std::is_same_v<Value, std::optional<platform::Timestamp>>) {
        if (!null) {
            value = row.real(column);
        }
    } else if constexpr (std::is_same_v<Value, model::OptionalContent>) {
        if (!null) {
            int64_t size = row.isNull(column + 1) ? 0 : row.integer(column + 1);
            value =
                model::Content::stored(std::string(row.text(column)), static_cast<uint64_t>(size));
        }
        return column + 2;
    } else if constexpr (std::is_pointer_v<Value>) {
        targetRow = null ? 0 : row.integer(column);
    } else {
        return column;  // the join table
    }
    return column + 1;
}

template <typename State, typename Table>
State readState(const sqlite::Statement& row, const Table& table, int64_t& targetRow) {
    State state;
    int column = 1;  // after the row id
    model::fields::forEach(table, [&](const auto& entry) {
        if constexpr (!kIsInverse<decltype(entry)>) {
            column = readField(row, column, state, entry, targetRow);
        }
    });
    return state;
}

template <typename Table>
constexpr int toOneCount(const Table& table) {
    return model::fields::countOf(table, Storage::ToOne);
}
static_assert(toOneCount(model::fields::kThingFields) == 1 &&
                  toOneCount(model::fields::kTagFields) == 0 &&
                  toOneCount(model::fields::kProjectFields) == 1,
              "each reader hands back the row id of at most one to-one relationship");

template <typename Table>
constexpr uint32_t columnMask(const Table& table) {
    uint32_t mask = 0;
    model::fields::forEach(table, [&](const auto& entry) {
        if constexpr (!kIsInverse<decltype(entry)>) {
            if (entry.storage != Storage::ToMany) {
                mask |= 1u << entry.index;
            }
        }
    });
    return mask;
}

}  // namespace

int bindFields(sqlite::Statement& statement, int index, const model::ThingState& state,
               uint32_t fields) {
    return bindTableFields(statement, index, state, fields, model::fields::kThingFields);
}
int bindFields(sqlite::Statement& statement, int index, const model::TagState& state,
               uint32_t fields) {
    return bindTableFields(statement, index, state, fields, model::fields::kTagFields);
}
int bindFields(sqlite::Statement& statement, int index, const model::ProjectState& state,
               uint32_t fields) {
    return bindTableFields(statement, index, state, fields, model::fields::kProjectFields);
}

uint32_t columnFields(model::RecordType type) {
    switch (type) {
        case model::RecordType::Thing:
            return columnMask(model::fields::kThingFields);
        case model::RecordType::Tag:
            return columnMask(model::fields::kTagFields);
        case model::RecordType::Project:
            return columnMask(model::fields::kProjectFields);
    }
    return 0;
}

model::ThingState readThing(const sqlite::Statement& row, int64_t& projectRow) {
    projectRow = 0;
    return readState<model::ThingState>(row, model::fields::kThingFields, projectRow);
}

model::TagState readTag(const sqlite::Statement& row) {
    int64_t none = 0;
    return readState<model::TagState>(row, model::fields::kTagFields, none);
}

model::ProjectState readProject(const sqlite::Statement& row, int64_t& parentRow) {
    parentRow = 0;
    return readState<model::ProjectState>(row, model::fields::kProjectFields, parentRow);
}

}  // namespace tavro::store::rows

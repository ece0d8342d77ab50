// SPDX-License-Identifier: MIT
#pragma once
// The fields of a thing, in schema order: the one description from which its row, its table,
// its exchange record and its conflict copy follow. The fields with values of their own come
// from ThingFieldList.h; the relationships are written out here.

#include "model/FieldTable.h"
#include "model/Thing.h"

namespace tavro::model::fields {

inline constexpr auto kThingFields = [] {
    using F = ThingField;
    using S = ThingState;
    using T = Thing;
#define TAVRO_COLUMN_NAMES(...) __VA_ARGS__
#define TAVRO_THING_FIELD(name, Name, type, initial, storage, columns, sqlDefault, key) \
    field(F::name, #name, Storage::storage, &S::name, &T::set##Name,                    \
          Columns{TAVRO_COLUMN_NAMES columns}, sqlDefault, key),
    return std::make_tuple(
        TAVRO_THING_VALUE_FIELDS(TAVRO_THING_FIELD)
            field(F::tags, "tags", Storage::ToMany, &S::tags, &T::setTags, {}, "", "tags"),
        field(F::project, "project", Storage::ToOne, &S::project, &T::setProject, {"project"}, "",
              "project"));
#undef TAVRO_THING_FIELD
#undef TAVRO_COLUMN_NAMES
}();

static_assert(std::tuple_size_v<decltype(kThingFields)> == kThingFieldCount,
              "every thing field needs an entry in kThingFields");
static_assert(positionsMatch(kThingFields), "kThingFields must follow ThingField's order");
static_assert(kThingFieldCount <= 32, "changed fields are kept as bits of a 32-bit mask");

// Calls `each` with every content a thing's byte fields hold, in schema order. `State` is a
// ThingState, const or not.
template <typename State, typename Each>
void forEachContent(State& state, Each&& each) {
    forEach(kThingFields, [&](const auto& entry) {
        if constexpr (std::is_same_v<typename std::remove_cvref_t<decltype(entry)>::Value,
                                     OptionalContent>) {
            if (auto& content = state.*entry.member) {
                each(*content);
            }
        }
    });
}

}  // namespace tavro::model::fields

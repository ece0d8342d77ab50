// SPDX-License-Identifier: MIT
#pragma once
// The fields of a tag, in schema order: the one description from which its row, its table and
// its exchange record follow.

#include "model/FieldTable.h"
#include "model/Tag.h"

namespace tavro::model::fields {

inline constexpr auto kTagFields = [] {
    using F = TagField;
    using S = TagState;
    using T = Tag;
    return std::make_tuple(
        field(F::uuid, "uuid", Storage::Uuid, &S::uuid, &T::setUuid, {"uuid"}, "", "uuid"),
        field(F::name, "name", Storage::Text, &S::name, &T::setName, {"name"}, "''", "name"),
        field(F::createdAt, "createdAt", Storage::Time, &S::createdAt, &T::setCreatedAt,
              {"createdAt"}, "", "createdAt"),
        inverse(F::things, "things"));
}();

static_assert(std::tuple_size_v<decltype(kTagFields)> == kTagFieldCount,
              "every tag field needs an entry in kTagFields");
static_assert(positionsMatch(kTagFields), "kTagFields must follow TagField's order");

}  // namespace tavro::model::fields

// SPDX-License-Identifier: MIT
#pragma once
// The fields of a project, in schema order: the one description from which its row, its table
// and its exchange record follow.

#include "model/FieldTable.h"
#include "model/Project.h"

namespace tavro::model::fields {

inline constexpr auto kProjectFields = [] {
    using F = ProjectField;
    using S = ProjectState;
    using T = Project;
    return std::make_tuple(
        field(F::uuid, "uuid", Storage::Uuid, &S::uuid, &T::setUuid, {"uuid"}, "", "uuid"),
        field(F::name, "name", Storage::Text, &S::name, &T::setName, {"name"}, "''", "name"),
        field(F::sortOrder, "sortOrder", Storage::Integer, &S::sortOrder, &T::setSortOrder,
              {"sortOrder"}, "0", "sortOrder"),
        // Only the device that linked a folder knows its owner; hosts that leave the key out
        // must not unlink it.
        field(F::linkedFolderOwner, "linkedFolderOwner", Storage::Text, &S::linkedFolderOwner,
              &T::setLinkedFolderOwner, {"linkedFolderOwner"}, "''", "linkedFolderOwner",
              WhenAbsent::Keep),
        field(F::createdAt, "createdAt", Storage::Time, &S::createdAt, &T::setCreatedAt,
              {"createdAt"}, "", "createdAt"),
        field(F::parent, "parent", Storage::ToOne, &S::parent, &T::setParent, {"parent"}, "",
              "parent"),
        inverse(F::children, "children"), inverse(F::things, "things"));
}();

static_assert(std::tuple_size_v<decltype(kProjectFields)> == kProjectFieldCount,
              "every project field needs an entry in kProjectFields");
static_assert(positionsMatch(kProjectFields), "kProjectFields must follow ProjectField's order");

}  // namespace tavro::model::fields

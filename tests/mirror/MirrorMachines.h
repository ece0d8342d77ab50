// SPDX-License-Identifier: MIT
#pragma once
// Machines of one account for mirror tests: each a store of its own (its own folder) mirrored
// to the test's server, and a view of a whole library as text, so that two machines' libraries
// compare with one EXPECT_EQ.

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "ServerFixture.h"
#include "mirror/Mirror.h"
#include "model/Project.h"
#include "model/Tag.h"
#include "model/Thing.h"
#include "store/Store.h"
#include "store/UnitOfWork.h"

namespace tavro::test {

struct Machine {
    std::unique_ptr<store::Store> store;
    std::unique_ptr<mirror::Mirror> mirror;

    // Runs `change` on a unit of work of this machine's store and saves it.
    void edit(const std::function<void(store::UnitOfWork&)>& change);
    // Every record's server body, by type and identifier: what two converged machines share.
    std::string library();
    model::Thing* thing(store::UnitOfWork& work, const std::string& title);
    model::Project* project(store::UnitOfWork& work, const std::string& name);
    model::Tag* tag(store::UnitOfWork& work, const std::string& name);
};

class MirrorFixture : public ServerFixture {
  protected:
    void SetUp() override;
    // A machine with a store in folder `name`, signed in to the test's account. `onOwner`
    // may stand between the mirror and its store steps.
    Machine& machine(const std::string& name,
                     mirror::Mirror::OwnerSteps onOwner = mirror::Mirror::runHere);
    std::string role_;
    std::string recordName_;
    std::vector<std::unique_ptr<Machine>> machines_;
};

}  // namespace tavro::test

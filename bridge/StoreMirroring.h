// SPDX-License-Identifier: MIT
#pragma once
// The library's mirroring of the store owner's store: a sync thread (mirror/MirrorThread.h)
// whose store steps run on the main executor, between exchanges, never during one.

#include <memory>

#include "exchange/AppleStore.h"

namespace tavro::bridge {

std::unique_ptr<exchange::Mirroring> makeStoreMirroring();

}  // namespace tavro::bridge

// SPDX-License-Identifier: MIT
#pragma once
// The exchange reports and merges by the file fingerprint the records themselves define
// (model/FileFingerprint.h), so that the mirror merges linked things by the same digest.

#include "model/FileFingerprint.h"

namespace tavro::exchange {

using model::fileFingerprint;
using model::isLinked;

}  // namespace tavro::exchange

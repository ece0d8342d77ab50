// SPDX-License-Identifier: MIT
#pragma once
// Hands the exchange texts the tests see to the wire-format check (tests/wire): when
// TAVRO_WIRE_CAPTURE_DIR names a folder, every text is written there as one file, and the check
// that runs after the exchange tests validates each file against the JSON Schema of its kind in
// docs/. Without the variable (a test program run by hand) nothing is written.

#include <string_view>

namespace tavro::test {

enum class WireText {
    Request,         // a request the library accepted
    RefusedRequest,  // a request refused for its shape (not JSON, a bad identifier or type, …)
    Response,        // an exchange response
    Envelope,        // an error envelope
    Answer,          // what a callback or a `tavro` process answered: a response or an envelope
};

void captureWireText(WireText kind, std::string_view text);

}  // namespace tavro::test

// SPDX-License-Identifier: MIT
#pragma once
// The host's copy of each thing's record as a response wrote it, with its record fingerprint,
// keyed by the thing's revision (model/Record.h): a thing that has not changed since is
// answered by copying those bytes instead of serialising and hashing it twice again. The
// revision changes with everything a thing's record shows, and the paths in it depend only on
// the "received" folder, so a copy is exactly what writing the record anew would give.
//
// Only records the host already held in that state are kept: a first import, which the host
// holds nothing of, adds nothing to its memory; an unchanged library is answered from here
// from the second exchange on. Entries not used by a response are dropped after it, so the
// memo never holds more than one entry per thing of the last response.
//
// Lives as long as the store owner. Used by one thread at a time: the executor's, or the thread
// that drafts a response while the executor waits for the save beside it.

#include <cstdint>
#include <string>
#include <unordered_map>

namespace tavro::exchange {

class RecordMemo {
  public:
    struct Entry {
        std::string record;       // compact JSON, as in the response
        std::string fingerprint;  // the record fingerprint, hexadecimal
    };

    // Starts a response whose records name files in `receivedPath`.
    void begin(const std::string& receivedPath);
    // The entry written for `revision` by an earlier response, or null. It stays for the next
    // response only when kept again through keep(revision) during this one.
    const Entry* find(uint64_t revision) const;
    void keep(uint64_t revision);
    void keep(uint64_t revision, Entry entry);
    // Ends the response: what it did not keep goes.
    void finish();

    // The text of a response its host is done with: the next response is written into its
    // memory, which a large library's response finds already in place where fresh memory
    // would cost it more than writing. Only a large text is kept, and only one.
    void reuseText(std::string text) noexcept;
    // The text kept for reuse, emptied with its room left; empty when none was kept.
    std::string takeText() noexcept;

  private:
    struct Stamped {
        Entry entry;
        uint64_t response = 0;  // the last response that kept it
    };
    std::string receivedPath_;
    uint64_t response_ = 0;
    std::unordered_map<uint64_t, Stamped> entries_;
    std::string spareText_;
};

}  // namespace tavro::exchange

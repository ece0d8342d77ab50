// SPDX-License-Identifier: MIT
#pragma once
// The asset files of a request's thing records, opened and hashed on a thread of their own in
// the order the exchange applies the records, while the exchange makes and fills them: a first
// import hashes thousands of files, and making records leaves the second core idle meanwhile.
//
// While a lookahead lives, its reader answers each read() with what the thread found for that
// very value of the request: the file's content, or the error reading it then threw, thrown
// where reading it on the spot would have thrown it. A file the exchange does not ask for (one
// of a record the merge skips) is let go. A value the thread has not met is read on the spot,
// once the thread has ended.
//
// Made and ended on the exchange's thread. The records' document must outlive it; the reader
// is used by the thread alone until the thread ends.

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <exception>
#include <functional>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

#include "model/Content.h"
#include "platform/Json.h"

namespace tavro::exchange {

class AssetReader;

class AssetLookahead {
  public:
    // Starts reading the files of the records that `applied` accepts (given each record's
    // fields): those the exchange will apply as things. Without a thread to be had, reading
    // stays on the spot.
    AssetLookahead(AssetReader& reader, const std::vector<platform::json::ObjectView>& records,
                   std::function<bool(const platform::json::Fields&)> applied);
    // Stops the thread after the file at hand and waits for it.
    ~AssetLookahead();
    AssetLookahead(const AssetLookahead&) = delete;
    AssetLookahead& operator=(const AssetLookahead&) = delete;

    struct Reading {
        model::Content content;
        std::exception_ptr error;  // set instead of content when reading failed
    };
    // The reading of the file named at `path`, a text of the records' document, once the thread
    // has come to it; files before it that nobody asked for are let go. Nothing when the thread
    // ended without meeting it.
    std::optional<Reading> take(const char* path);

  private:
    struct Found {
        const char* path;
        Reading reading;
    };
    void run();
    bool stopping();
    void publish(Found found);
    void end();

    AssetReader& reader_;
    const std::vector<platform::json::ObjectView>& records_;
    std::function<bool(const platform::json::Fields&)> applied_;
    std::mutex mutex_;
    std::condition_variable published_;
    std::deque<Found> found_;  // with mutex_, in the order met
    bool ended_ = false;       // with mutex_: the thread publishes nothing more
    bool stopping_ = false;    // with mutex_
    std::thread thread_;
};

}  // namespace tavro::exchange

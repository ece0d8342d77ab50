/* SPDX-License-Identifier: MIT */
/* libTavroApple: the native half of Tavro, seen from its host application.
 *
 * Conventions
 * -----------
 * Errors
 *   No error ever crosses this interface as an exception, a return code or errno. The two
 *   synchronous queries answer "no" instead (NULL, 0). Every failure of an exchange arrives
 *   through the exchange's callback as the error envelope, a compact JSON object
 *       {"version":1,"error":"<one line of text for the user>"}
 *   A normal exchange response never has an "error" member, so its presence marks a failure.
 *
 * Wire format
 *   The request, the response and the error envelope are described exactly by the JSON Schemas
 *   (draft 2020-12) docs/schema/exchange-request.schema.json, exchange-response.schema.json and
 *   exchange-error.schema.json; a host can check what it sends and receives against them.
 *
 * Ownership
 *   Strings passed in stay the caller's; the library copies what it keeps before returning.
 *   A string returned by a function of this library belongs to the caller, who releases it
 *   with tavro_apple_free() (never with free() of another C runtime). A string handed to a
 *   callback belongs to the library and is valid only while the callback runs; copy it to keep
 *   it, and never pass it to tavro_apple_free().
 *
 * NULL
 *   tavro_apple_free() accepts NULL. tavro_apple_group_path() answers NULL for "no container".
 *   tavro_apple_exchange() requires a callback; without one the call does nothing. A NULL
 *   request is treated as an empty one and answered with an error envelope.
 *
 * Threads
 *   Every function may be called from any thread, at any time, in any order.
 *   tavro_apple_group_path(), tavro_apple_cloud_available() and tavro_apple_free() run on the
 *   caller's thread and share no state. Exchange work and every exchange callback run on one
 *   thread that the library owns and starts on first use (its stand-in for the main thread);
 *   callbacks run one at a time, never on the caller's thread and never before
 *   tavro_apple_exchange() has returned.
 *
 * Configuration
 *   The library reads the entitlements file ($TAVRO_ENTITLEMENTS, else the executable's path
 *   followed by ".entitlements"), the XDG data and config homes, and the environment variables
 *   TAVRO_DISABLE_CLOUDKIT and TAVRO_CLOUDKIT_ENABLED, afresh at every call.
 */
#ifndef TAVRO_APPLE_BRIDGE_H_
#define TAVRO_APPLE_BRIDGE_H_

#include <stdint.h>

#if defined(__GNUC__) || defined(__clang__)
#define TAVRO_APPLE_EXPORT __attribute__((visibility("default")))
#else
#define TAVRO_APPLE_EXPORT
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* Receives the answer of one exchange. `context` is the value given to tavro_apple_exchange(),
 * unchanged. `response` is NUL-terminated UTF-8 JSON: the exchange response or the error
 * envelope. It is owned by the library and valid only until the callback returns.
 * Runs on the library's executor thread; a callback that blocks holds up every later
 * exchange. */
typedef void (*tavro_apple_exchange_callback)(intptr_t context, const char *response);

/* The path of the App Group container as NUL-terminated UTF-8, creating the folder if needed;
 * NULL when the process is not entitled to the App Group or the folder cannot be provided.
 * Owner: the caller, who releases it with tavro_apple_free().
 * Threads: any; runs synchronously on the caller's thread. */
TAVRO_APPLE_EXPORT char *tavro_apple_group_path(void);

/* 1 when iCloud sync may be used in this process, 0 otherwise. Decided afresh at every call
 * from the environment and the entitlements; never fails.
 * Threads: any; runs synchronously on the caller's thread. */
TAVRO_APPLE_EXPORT int32_t tavro_apple_cloud_available(void);

/* Starts one exchange with the native store and returns at once. `request` is
 * NUL-terminated UTF-8 JSON (ill-formed UTF-8 is read as U+FFFD); it is copied before the call
 * returns, so the caller may free or reuse it at once. `callback` is then called exactly once,
 * with `context`, on the library's executor thread. Several exchanges may be outstanding;
 * their callbacks need not arrive in the order of the calls.
 * Owner: `request` stays the caller's; the response passed to `callback` is the library's.
 * Threads: any; the caller is never blocked on the work and never runs the callback. */
TAVRO_APPLE_EXPORT void tavro_apple_exchange(const char *request, intptr_t context,
                                             tavro_apple_exchange_callback callback);

/* Releases a string returned by tavro_apple_group_path(). NULL is accepted and ignored.
 * Threads: any. */
TAVRO_APPLE_EXPORT void tavro_apple_free(char *string);

#ifdef __cplusplus
} /* extern "C" */
#endif

#endif /* TAVRO_APPLE_BRIDGE_H_ */

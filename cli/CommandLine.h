// SPDX-License-Identifier: MIT
#pragma once
// How `tavro` reports what went wrong: a usage error names the unknown command or option and
// ends with status 2; a failure names the file or the thing that failed and the real reason
// and ends with status 1. main() catches both (and anything else thrown) and prints
// "tavro: MESSAGE", so no failure ends the program with an uncaught exception.

#include <ostream>
#include <stdexcept>
#include <string>

#include "platform/Env.h"

namespace tavro::cli {

// A command line `tavro` does not understand. main() adds a pointer to --help.
class UsageError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

// A command that could not be carried out; the message is printed as is after "tavro: ".
class CommandError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

// The whole content of `source`, or of standard input for "-". Throws CommandError
// "SOURCE: reason" with the system's reason ("No such file or directory", "Is a directory").
std::string readInput(const std::string& source);

// Whether `error`, an exchange's envelope error, is one that the Linux provisioning (the
// entitlements file and the cloud account file) decides.
bool isProvisioningError(const std::string& error);

// Says on `err`, for an envelope error of isProvisioningError(), what provisions iCloud sync
// on Linux and where this process looks for it: the entitlements file (TAVRO_ENTITLEMENTS)
// and the cloud account file.
void printProvisioningHint(const std::string& error, std::ostream& err,
                           const platform::Env& env = platform::Env::real());

}  // namespace tavro::cli

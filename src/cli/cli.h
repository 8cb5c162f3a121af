#pragma once

#include <string>
#include <vector>

namespace plumora {

// Exit statuses of plumora-cli.
inline constexpr int kExitOk = 0;
inline constexpr int kExitFailure = 1;  // a file could not be read, processed or written
inline constexpr int kExitUsage = 2;    // the command line is wrong

// Runs plumora-cli with its arguments (without the program name).
int runCli(const std::vector<std::string>& args);

}  // namespace plumora

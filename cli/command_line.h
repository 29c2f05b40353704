// The `nolukey` command line: parses, runs the subcommand, turns failures into one line
// on stderr and an exit code.
#pragma once

namespace nolukey {

inline constexpr int kExitOk = 0;
inline constexpr int kExitFailure = 1;  // bad input, unwritable output, failure while keying
inline constexpr int kExitUsage = 2;    // the command line itself is wrong

int RunCommandLine(int argc, char** argv);

}  // namespace nolukey

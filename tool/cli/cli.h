// What the command-line programs of the tree share: their standard streams,
// their version line and the one parser for numbers given on a command line.
#pragma once

#include <cstdio>
#include <optional>
#include <string_view>

namespace cli {

// Makes sure descriptors 0, 1 and 2 are open, on /dev/null where they are
// not, so that no device node opened later takes the place of a standard
// stream. A missing standard input then reads as end of input. False when
// /dev/null cannot be opened (the program should give up: it has nowhere to
// say so safely).
bool KeepStandardStreams();

// Flushes and closes standard output, then flushes standard error. False,
// after a message "PROGRAM: write error on standard output: REASON" on
// standard error, when anything written to standard output was lost.
bool CloseStandardOutput(const char* program);

// "PROGRAM VERSION" on standard output.
void PrintVersion(const char* program);

// A whole number within [min, max]: decimal ("010" is ten) or hexadecimal
// after "0x" or "0X", with an optional sign in front. Nothing else may
// surround it. nullopt for any other text or a value out of range.
std::optional<long long> ParseInteger(std::string_view text, long long min, long long max);

}  // namespace cli

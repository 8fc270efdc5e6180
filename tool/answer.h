// The operator's answer to txbootload's question.
#pragma once

#include <cstdio>

// Reads one line of any length from `input` (up to and including its newline)
// and tells whether it contains "yes" (case-sensitive, anywhere). End of
// input or a read error is an empty answer, which does not confirm.
bool ReadConfirmation(FILE* input);

#include "answer.h"

#include <cstdlib>
#include <cstring>

namespace {

// The line reader starts with this much and grows the buffer for longer lines.
constexpr size_t kAnswerBufferSize = 101;

}  // namespace

bool ReadConfirmation(FILE* input) {
    size_t size = kAnswerBufferSize;
    char* answer = static_cast<char*>(malloc(size));
    bool confirmed = false;
    if (answer != nullptr) {
        answer[0] = '\0';
        if (getline(&answer, &size, input) < 0) answer[0] = '\0';
        confirmed = strstr(answer, "yes") != nullptr;
    }
    free(answer);
    return confirmed;
}

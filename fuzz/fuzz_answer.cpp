// The operator's answer line: any bytes, any length, on standard input.
#include <cstring>
#include <string_view>

#include "answer.h"
#include "fuzz_check.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* bytes, size_t size) {
    FILE* input = fmemopen(const_cast<uint8_t*>(bytes), size, "r");
    if (size == 0) input = fopen("/dev/null", "r");
    FUZZ_CHECK(input != nullptr);
    const bool confirmed = ReadConfirmation(input);
    fclose(input);

    // The answer is the first line as a C string: it ends at the newline or
    // at a NUL byte, whichever comes first.
    std::string_view all(reinterpret_cast<const char*>(bytes), size);
    std::string_view line = all.substr(0, all.find('\n'));
    line = line.substr(0, line.find('\0'));
    FUZZ_CHECK(confirmed == (line.find("yes") != std::string_view::npos));
    return 0;
}

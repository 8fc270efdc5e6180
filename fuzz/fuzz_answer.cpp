// The operator's answer line: any bytes, any length, on standard input.
#include <string_view>

#include "answer.h"
#include "fuzz_check.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* bytes, size_t size) {
    FILE* input = fopen(FuzzFile(bytes, size).c_str(), "r");
    FUZZ_CHECK(input != nullptr);
    const bool confirmed = ReadConfirmation(input);
    fclose(input);

    // The answer is the first line as a C string: it ends at the newline or
    // at a NUL byte, whichever comes first.
    std::string_view line(reinterpret_cast<const char*>(bytes), size);
    line = line.substr(0, line.find_first_of(std::string_view("\n\0", 2)));
    FUZZ_CHECK(confirmed == (line.find("yes") != std::string_view::npos));
    return 0;
}

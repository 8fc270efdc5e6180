// The sysfs readers on arbitrary file contents.
#include <cstring>

#include "fuzz_check.h"
#include "sysfs.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* bytes, size_t size) {
    const std::string& path = FuzzFile(bytes, size);

    // Every buffer size from nothing to more than the file holds.
    for (size_t capacity : {size_t{0}, size_t{1}, size_t{2}, size_t{32}, size + 1}) {
        char* buffer = static_cast<char*>(malloc(capacity + 1));
        const int n = sysfsReadText(path.c_str(), buffer, capacity);
        if (capacity == 0) {
            FUZZ_CHECK(n == -1);
        } else {
            const size_t expect = std::min(size, capacity - 1);
            FUZZ_CHECK(n == static_cast<int>(expect));
            FUZZ_CHECK(buffer[n] == '\0');
            FUZZ_CHECK(memcmp(buffer, bytes, expect) == 0);
        }
        free(buffer);
    }

    const int flag = sysfsReadBool(path.c_str());
    FUZZ_CHECK(flag == (size == 0 ? -1 : bytes[0] == '0' ? 0 : 1));
    const int number = sysfsReadInt(path.c_str());
    FUZZ_CHECK(size > 0 || number == -1);
    return 0;
}

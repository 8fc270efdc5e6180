// The sysfs readers on arbitrary file contents.
#include <cstring>
#include <vector>

#include "fuzz_check.h"
#include "sysfs.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* bytes, size_t size) {
    const char* path = FuzzFile(bytes, size).c_str();

    // Every buffer size from nothing to more than the file holds: no room
    // fails, otherwise as much of the file as fits before the closing NUL.
    for (size_t capacity : {size_t{0}, size_t{1}, size_t{2}, size_t{32}, size + 1}) {
        std::vector<char> buffer(capacity + 1, 'x');
        const int n = sysfsReadText(path, buffer.data(), capacity);
        FUZZ_CHECK(n == (capacity == 0 ? -1 : static_cast<int>(std::min(size, capacity - 1))));
        FUZZ_CHECK(n < 0 || (buffer[n] == '\0' && memcmp(buffer.data(), bytes, n) == 0));
    }
    FUZZ_CHECK(sysfsReadBool(path) == (size == 0 ? -1 : bytes[0] == '0' ? 0 : 1));
    FUZZ_CHECK(sysfsReadInt(path) == -1 || size > 0);
    return 0;
}

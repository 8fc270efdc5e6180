// The bitstream loader: an arbitrary bitstream file, and a configuration node
// whose input levels, request failures and write counts the input picks,
// through Configure. The device receives a prefix of the file (all of it on
// success) and only the known requests, and every attempt ends with the
// closing sequence and request 20.
#include <vector>

#include "fpga.h"
#include "config_node.h"
#include "fuzz_fpga.h"

namespace {

// One control byte per request: 0xEE fails it, otherwise a read gets it as
// the level. Per write: 0xEE fails, 0xED is interrupted, 0xEC moves nothing,
// 0xEB moves a part. Once the input runs out, reads give 0 and writes move all.
struct FuzzedConfigNode final : DeviceDriver {
    explicit FuzzedConfigNode(FuzzedDataProvider& input) : data(input) {}
    int Ioctl(int, unsigned long request, void* arg) override {
        auto* byte = static_cast<uint8_t*>(arg);
        const unsigned nr = request & 0xFF;
        const bool read = request == FpgaConfigReadRequest(nr);
        FUZZ_CHECK(read ? nr == 5 || nr == 6 : request == FpgaConfigWriteRequest(nr));
        FUZZ_CHECK(read || *byte <= 1);
        if (!read) drives.push_back(nr << 8 | *byte);
        const uint8_t control = data.ConsumeIntegral<uint8_t>();
        if (control == 0xEE) return errno = EIO, -1;
        if (read) *byte = control;
        return 0;
    }
    ssize_t Write(int, const void* bytes, size_t length) override {
        FUZZ_CHECK(length > 0 && length <= 1024);
        const uint8_t control = data.ConsumeIntegral<uint8_t>();
        if (control == 0xEE || control == 0xED) return errno = control == 0xEE ? EIO : EINTR, -1;
        if (control == 0xEC) return 0;
        const size_t moved =
            control == 0xEB ? data.ConsumeIntegralInRange<size_t>(1, length) : length;
        written.insert(written.end(), static_cast<const uint8_t*>(bytes),
                       static_cast<const uint8_t*>(bytes) + moved);
        return static_cast<ssize_t>(moved);
    }

    FuzzedDataProvider& data;
    std::vector<unsigned> drives;  // nr << 8 | level, in order
    std::vector<uint8_t> written;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* bytes, size_t size) {
    FuzzedDataProvider data(bytes, size);
    const std::vector<uint8_t> rbf =
        data.ConsumeBytes<uint8_t>(data.ConsumeIntegralInRange<size_t>(0, 4096));
    const std::string& rbfPath = FuzzFile(rbf.data(), rbf.size());
    FuzzedConfigNode node(data);
    FakeClock clock;
    FPGA loader;
    loader.SetDriver(node);
    loader.SetClock(clock);
    const int result = loader.Configure("/dev/null", rbfPath.c_str());
    // Configured on success only (-1 also comes from request 20 after a success).
    FUZZ_CHECK(result == 0 || result == -1 || (result <= -101 && result >= -106));
    FUZZ_CHECK(result == -1 || loader.IsConfigured() == (result == 0));
    FUZZ_CHECK(node.written.size() <= rbf.size() &&
               std::equal(node.written.begin(), node.written.end(), rbf.begin()));
    FUZZ_CHECK(result != 0 || node.written == rbf);
    const std::vector<unsigned> closing = {0x801, 0x700, 0xA00, 0x900, 0x1401};
    FUZZ_CHECK(node.drives.size() > closing.size() &&
               std::equal(closing.rbegin(), closing.rend(), node.drives.rbegin()));
    return 0;
}

// The GPIO port on an in-process configuration node: request results and pin
// levels from the input, through the ready line and every switch operation
// in the order the input picks. Only the known requests reach the node, each
// switch with one byte of 0 or 1, each pin request with a named record; the
// ready line reads 1 exactly for level 0 (or a record left alone).
#include <fcntl.h>
#include <fuzzer/FuzzedDataProvider.h>

#include <cerrno>
#include <cstring>
#include <vector>

#include "fuzz_check.h"
#include "gpio_port.h"

namespace {

// Per request a control byte: 0xEE fails it; for GET_PIN the next byte is
// the level written into the record.
struct FuzzedGpioNode final : DeviceDriver {
    explicit FuzzedGpioNode(FuzzedDataProvider& input) : data(input) {}
    int Open(const char*, int flags) override {
        FUZZ_CHECK((flags & O_ACCMODE) == O_RDWR);
        return kFakeDescriptor;
    }
    int Close(int fd) override {
        FUZZ_CHECK(fd == kFakeDescriptor);
        return 0;
    }
    int Ioctl(int fd, unsigned long request, void* arg) override {
        FUZZ_CHECK(fd == kFakeDescriptor && (request & ~0xFFul) == GpioRequest(0));
        const unsigned nr = request & 0xFF;
        auto* bytes = static_cast<uint8_t*>(arg);
        if (nr == kGpioPreparePin || nr == kGpioGetPin) {
            FUZZ_CHECK(memcmp(bytes, "PA15\0", 6) == 0);  // named, value 0
        } else {
            FUZZ_CHECK(nr == 20 || nr == 21 || nr == 23 || nr == 25 || (nr >= 24 && nr <= 31));
            FUZZ_CHECK(bytes[0] <= 1);
            switches.push_back(nr << 8 | bytes[0]);
        }
        if (data.ConsumeIntegral<uint8_t>() == 0xEE) return errno = EIO, -1;
        if (nr == kGpioGetPin) bytes[5] = level = data.ConsumeIntegral<uint8_t>();
        return 0;
    }
    ssize_t Write(int, const void*, size_t) override { abort(); }

    static constexpr int kFakeDescriptor = 1000;
    FuzzedDataProvider& data;
    uint8_t level = 0;
    std::vector<unsigned> switches;  // nr << 8 | byte, in order
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* bytes, size_t size) {
    FuzzedDataProvider data(bytes, size);
    FuzzedGpioNode node(data);
    GpioPort port("/dev/fpga_config.0", node);
    FUZZ_CHECK(port.HasDevice());
    static const unsigned kSwitchLines[] = {25, 23, 21, 20, 31, 24, 26, 27, 28, 29, 30};
    while (data.remaining_bytes() > 0) {
        const int op = data.ConsumeIntegralInRange(0, 11);
        const bool on = data.ConsumeBool();
        if (op == 11) {
            node.level = 0;  // a failed GET_PIN leaves the record at 0
            const int ready = port.readReadyLine();
            FUZZ_CHECK(ready == (node.level == 0 ? 1 : 0));
            continue;
        }
        node.switches.clear();
        switch (op) {
        case 0: port.setGprsEn(on); break;
        case 1: port.setWlanReset(on); break;
        case 2: port.setExtIoEn(on); break;
        case 3: port.setRs485Sel(on); break;
        case 4: port.setRelayEn(on); break;
        case 5: port.setAuxLine24(on); break;
        case 6: port.setAuxLine26(on); break;
        case 7: port.setAuxLine27(on); break;
        case 8: port.setAuxLine28(on); break;
        case 9: port.setAuxLine29(on); break;
        default: port.setAuxLine30(on); break;
        }
        FUZZ_CHECK(node.switches == std::vector<unsigned>{kSwitchLines[op] << 8 | (on ? 1u : 0u)});
    }
    return 0;
}

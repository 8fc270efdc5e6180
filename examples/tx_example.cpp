// An application of the instrument library, as small as it gets: opens the
// transmitter link, reads the identity and the status, then loads the FPGA.
//
//   tx-example [RBF]
//
// RBF is the bitstream; without it the loader takes the configured file
// (key /FPGA/rbfFilePath, default /usr/share/skarvik/data/fpga_s2.rbf).
// Exit status 0 when all three steps worked, 1 after the first that failed.
#include <array>
#include <cstdint>
#include <cstdio>

// The installed headers sit together in include/skarvik-tx/, which the
// CMake package and the pkg-config file put on the include path.
#include "device_paths.h"
#include "fpga.h"
#include "tx_spi.h"

namespace {

int Fail(const char* what) {
    fprintf(stderr, "tx-example: %s\n", what);
    return 1;
}

// Whether the link's last exchange went through and brought a frame of `type`.
bool Received(const TxSpi& link, uint32_t type) {
    return link.ErrorCount() == 0 && link.RxFrame()[0] == type;
}

}  // namespace

int main(int argc, char** argv) {
    const char* rbf = argc > 1 ? argv[1] : nullptr;

    TxSpi link(kSpidevPath);
    if (!link.HasDevice()) return Fail("cannot open the transmitter's SPI device");

    std::array<uint8_t, kTransmitterInfoSize> frame{};
    link.GetInfo(frame);
    if (!Received(link, M_GET_INFO)) return Fail("the transmitter does not answer");
    const TransmitterInfo& info = link.Info();
    printf("identity: %.*s rev %.*s, serial %.*s, software number %d\n",
           static_cast<int>(info.product().size()), info.product().data(),
           static_cast<int>(info.revision().size()), info.revision().data(),
           static_cast<int>(info.serialNumber().size()), info.serialNumber().data(),
           link.SoftwareNumber());

    link.GetStatus(false);
    if (!Received(link, M_STATUS)) return Fail("no status record from the transmitter");
    printf("status: %s\n", TxSpi::TxStatusText(link.FaultWord()).utf8_str().data());

    FPGA fpga;
    const int loaded = fpga.Configure(kGpioDevicePath, rbf);
    if (loaded != 0) return Fail("the FPGA was not loaded");
    printf("FPGA loaded\n");
    return 0;
}

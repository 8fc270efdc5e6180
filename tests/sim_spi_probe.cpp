// Helper of the txsim tests: a minimal host. Sends one request per argument
// (a message type) over /dev/spidev0.1, then an M_NULL to collect the last
// reply, and prints one line per reply. Exit 1: cannot open, 3: ioctl failed.
#include <fcntl.h>
#include <linux/spi/spidev.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "frame_io.h"
#include "protocol.h"

int main(int argc, char** argv) {
    const int fd = open("/dev/spidev0.1", O_RDWR | O_CLOEXEC);
    if (fd < 0) {
        std::perror("open /dev/spidev0.1");
        return 1;
    }
    std::vector<uint32_t> types;
    for (int i = 1; i < argc; ++i) types.push_back(static_cast<uint32_t>(std::atoi(argv[i])));
    types.push_back(M_NULL);

    int rc = 0;
    for (size_t i = 0; i < types.size() && rc == 0; ++i) {
        std::vector<uint8_t> tx(88, 0), rx(88, 0);
        FrameHeader h;
        h.type = static_cast<uint8_t>(types[i]);
        h.frameId = static_cast<uint8_t>(i + 1);
        h.version = 5;
        h.length = 8;
        h.Write(tx);
        WriteU16LE(tx, 6, frameChecksum(tx, 8));

        spi_ioc_transfer t{};
        t.tx_buf = reinterpret_cast<uintptr_t>(tx.data());
        t.rx_buf = reinterpret_cast<uintptr_t>(rx.data());
        t.len = static_cast<uint32_t>(tx.size());
        if (ioctl(fd, SPI_IOC_MESSAGE(1), &t) < 0) {
            std::perror("SPI_IOC_MESSAGE");
            rc = 3;
            break;
        }
        const FrameHeader r = FrameHeader::Read(rx);
        std::printf("type=%u ack=%u len=%u", unsigned{r.type}, unsigned{r.ackId},
                    unsigned{r.length});
        if (r.type == M_GET_INFO) {
            std::string serial;
            for (size_t k = 8; k < 24 && ReadU8(rx, k).value_or(0) != 0; ++k) {
                serial.push_back(static_cast<char>(*ReadU8(rx, k)));
            }
            std::printf(" serial=%s", serial.c_str());
        }
        std::printf("\n");
    }
    close(fd);
    return rc;
}

// Drives one link through a long run of mixed exchanges, for the pause
// measurements of txbench: the board model records when each transfer
// arrived and when it was let go.
//
//   link_loop EXCHANGES [--timerslack NS]
//
// The identity is read first, so the board's software number decides the
// timing. Then queries and commands follow in a fixed pseudo-random order
// until at least EXCHANGES exchanges have been made.
#include <sys/prctl.h>

#include <array>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "tx_spi.h"

int main(int argc, char** argv) {
    if (argc < 2) {
        fprintf(stderr, "usage: link_loop EXCHANGES [--timerslack NS]\n");
        return 2;
    }
    const long wanted = atol(argv[1]);
    if (argc > 3 && strcmp(argv[2], "--timerslack") == 0) {
        if (prctl(PR_SET_TIMERSLACK, strtoul(argv[3], nullptr, 10), 0, 0, 0) != 0) {
            perror("prctl");
            return 1;
        }
    }

    TxSpi link("/dev/spidev0.1");
    std::array<uint8_t, kTransmitterInfoSize> info{};
    link.GetInfo(info);
    long exchanges = 2;

    uint32_t seed = 12345;
    uint32_t first = 0;
    uint32_t second = 0;
    while (exchanges < wanted) {
        seed = seed * 1103515245u + 12345u;
        const uint32_t pick = (seed >> 16) % 100;
        if (pick < 45) {
            link.RequestReady();  // M_REQ_READY, M_NULL
            exchanges += 2;
        } else if (pick < 65) {
            link.RequestFaults();  // M_REQ_FAULTS, M_NULL
            exchanges += 2;
        } else if (pick < 90) {
            link.SetPolarity(1, pick);  // M_SETPOLARITY
            exchanges += 1;
        } else {
            link.RequestLimit(pick, 7, first, second);  // M_REQ_LIMIT, M_NULL
            exchanges += 2;
        }
    }
    printf("exchanges %ld\n", exchanges);
    return 0;
}

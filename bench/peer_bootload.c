/* The yardstick for txbootload -Y: the same five exchanges with the same
 * pauses, written as a minimal C program would write them. No history, no
 * diagnostics, no library: open the node, set it up, build each frame, wait,
 * transfer, print the identity. It shows what the protocol itself costs. */
#include <fcntl.h>
#include <linux/spi/spidev.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/ioctl.h>
#include <time.h>
#include <unistd.h>

enum { M_NULL = 9, M_BOOT_LOAD_MODE = 21, M_REQ_INFO = 22 };

static int spi = -1;
static int gpio = -1;
static uint8_t tx[256];
static uint8_t rx[256];
static uint8_t counter;
static uint8_t ackId;
static int fast;
static struct timespec notBefore;

/* Pause after each type, microseconds: legacy then fast (floors applied). */
static long PauseUs(uint8_t type) {
    if (type == M_REQ_INFO) return fast ? 200 : 60000;
    return fast ? 200 : 4000;
}

static int ReadyReading(void) {
    uint8_t record[6] = {'P', 'A', '1', '5', 0, 0};
    ioctl(gpio, 0x40046B00UL + 17, record);
    memcpy(record, "PA15\0\0", 6);
    ioctl(gpio, 0x40046B00UL + 19, record);
    return record[5] == 0;
}

static void Exchange(uint8_t type, unsigned length) {
    memset(tx, 0, sizeof tx);
    memset(rx, 0, sizeof rx);
    if (++counter == 0) counter = 1;
    tx[0] = type;
    tx[1] = counter;
    tx[2] = 5;
    tx[3] = 8;
    tx[4] = ackId;
    unsigned sum = 0;
    for (int i = 0; i < 8; ++i) sum += tx[i];
    tx[6] = (uint8_t)sum;
    tx[7] = (uint8_t)(sum >> 8);

    clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &notBefore, NULL);
    if (fast) {
        int previous = 0;
        for (;;) {
            int ready = ReadyReading();
            if (ready && previous) break;
            previous = ready;
            struct timespec poll = {0, 500000};
            nanosleep(&poll, NULL);
        }
    }
    struct spi_ioc_transfer t;
    memset(&t, 0, sizeof t);
    t.tx_buf = (uintptr_t)tx;
    t.rx_buf = (uintptr_t)rx;
    t.len = length;
    t.bits_per_word = 8;
    ioctl(spi, SPI_IOC_MESSAGE(1), &t);

    clock_gettime(CLOCK_MONOTONIC, &notBefore);
    long ns = PauseUs(type) * 1000L;
    notBefore.tv_nsec += ns % 1000000000L;
    notBefore.tv_sec += ns / 1000000000L;
    if (notBefore.tv_nsec >= 1000000000L) {
        notBefore.tv_sec++;
        notBefore.tv_nsec -= 1000000000L;
    }
    ackId = rx[1];
}

static void GetInfo(unsigned firstLength) {
    Exchange(M_REQ_INFO, firstLength);
    Exchange(M_NULL, 88);
    rx[87] = 0;
    fprintf(stderr, "Product:%.16s\nRev:    %.16s\nSNR:    %.16s\nSW:%.16s(%.16s)\n",
            (char*)rx + 24, (char*)rx + 40, (char*)rx + 8, (char*)rx + 56, (char*)rx + 72);
    fast = atoi((char*)rx + 72) > 994;
}

int main(void) {
    spi = open("/dev/spidev0.1", O_RDWR);
    gpio = open("/dev/fpga_config.0", O_RDWR);
    uint8_t mode = SPI_MODE_1, bits = 8;
    uint32_t speed = 800000;
    ioctl(spi, SPI_IOC_WR_MODE, &mode);
    ioctl(spi, SPI_IOC_WR_BITS_PER_WORD, &bits);
    ioctl(spi, SPI_IOC_WR_MAX_SPEED_HZ, &speed);

    puts("Tx prepare for software update via usb.");
    GetInfo(88);
    usleep(250000);
    puts("Action confirmed by user");
    Exchange(M_BOOT_LOAD_MODE, 8);
    GetInfo(8);
    usleep(250000);
    close(gpio);
    close(spi);
    return 0;
}

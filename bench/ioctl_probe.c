/* Times single ioctls against whatever answers /dev/spidev0.1 and
 * /dev/fpga_config.0, so that the cost of the answering side can be taken out
 * of a program's measured time. Prints one line per kind:
 *   KIND COUNT MEDIAN_NS MEAN_NS
 * With --noop it does nothing at all: the floor of starting a C program. */
#include <fcntl.h>
#include <linux/spi/spidev.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/ioctl.h>
#include <time.h>
#include <unistd.h>

static long long Now(void) {
    struct timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return (long long)t.tv_sec * 1000000000LL + t.tv_nsec;
}

static int Compare(const void* a, const void* b) {
    long long x = *(const long long*)a, y = *(const long long*)b;
    return (x > y) - (x < y);
}

static void Report(const char* kind, long long* samples, int count) {
    long long total = 0;
    for (int i = 0; i < count; ++i) total += samples[i];
    qsort(samples, (size_t)count, sizeof *samples, Compare);
    printf("%s %d %lld %lld\n", kind, count, samples[count / 2], total / count);
}

int main(int argc, char** argv) {
    if (argc > 1 && strcmp(argv[1], "--noop") == 0) return 0;
    int count = argc > 1 ? atoi(argv[1]) : 500;
    if (count < 1) count = 1;
    long long* samples = malloc(sizeof(long long) * (size_t)count);
    int spi = open("/dev/spidev0.1", O_RDWR);
    int gpio = open("/dev/fpga_config.0", O_RDWR);
    if (samples == NULL || spi < 0 || gpio < 0) {
        fprintf(stderr, "ioctl_probe: cannot open the nodes\n");
        return 1;
    }

    uint8_t mode = 0;
    for (int i = 0; i < count; ++i) {
        long long start = Now();
        ioctl(spi, SPI_IOC_RD_MODE, &mode);
        samples[i] = Now() - start;
    }
    Report("spi_setup", samples, count);

    /* An 88-byte exchange of M_NULL frames: what the board holds for the
     * wire is taken out by the caller. */
    uint8_t tx[88] = {9, 1, 5, 8, 0, 0, 23, 0};
    uint8_t rx[88];
    for (int i = 0; i < count; ++i) {
        struct spi_ioc_transfer t;
        memset(&t, 0, sizeof t);
        t.tx_buf = (uintptr_t)tx;
        t.rx_buf = (uintptr_t)rx;
        t.len = sizeof tx;
        t.bits_per_word = 8;
        long long start = Now();
        ioctl(spi, SPI_IOC_MESSAGE(1), &t);
        samples[i] = Now() - start;
    }
    Report("spi_transfer", samples, count);

    for (int i = 0; i < count; ++i) {
        uint8_t record[6] = {'P', 'A', '1', '5', 0, 0};
        long long start = Now();
        ioctl(gpio, 0x40046B00UL + 19, record);
        samples[i] = Now() - start;
    }
    Report("gpio", samples, count);

    close(gpio);
    close(spi);
    free(samples);
    return 0;
}

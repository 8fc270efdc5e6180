/* The yardstick for the FPGA's bitstream load and register operations: the
 * same requests as the library makes, in the same order, written as a
 * minimal C program would write them. No registry, no configuration lookup,
 * no diagnostics, no lock. Same commands and output lines as fpga_bench.
 *
 *   peer_fpga load FILE RUNS
 *   peer_fpga regs OPS RUNS */
#include <fcntl.h>
#include <linux/spi/spidev.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/ioctl.h>
#include <time.h>
#include <unistd.h>

#define CONFIG_NODE "/dev/fpga_config.0"
#define REGISTER_NODE "/dev/spidev1.0"
#define CHUNK 1024
#define MAX_RUNS 101

static int64_t askedUs;

static int64_t Ns(clockid_t clock) {
    struct timespec t;
    clock_gettime(clock, &t);
    return (int64_t)t.tv_sec * 1000000000 + t.tv_nsec;
}

static void Sleep(unsigned us) {
    askedUs += us;
    usleep(us);
}

static int Drive(int fd, unsigned nr, uint8_t level) { return ioctl(fd, 0x40046B00UL + nr, &level); }

static int Read(int fd, unsigned nr, uint8_t* level) {
    *level = 0;
    return ioctl(fd, 0x80046B00UL + nr, level);
}

/* Up to six reads of `input`, each after 10 us, until it is set. */
static int Poll(int fd, unsigned input) {
    uint8_t level = 0;
    for (int reads = 0; reads < 6; ++reads) {
        Sleep(10);
        if (Read(fd, input, &level) < 0) return -1;
        if (level != 0) return 0;
    }
    return -1;
}

static int WriteAll(int fd, const uint8_t* bytes, size_t length) {
    while (length > 0) {
        ssize_t n = write(fd, bytes, length);
        if (n <= 0) return -1;
        bytes += n;
        length -= (size_t)n;
    }
    return 0;
}

__attribute__((noinline)) static int LoadOnce(const char* file) {
    static uint8_t buffer[CHUNK];
    int fd = open(CONFIG_NODE, O_RDWR);
    if (fd < 0) return -1;
    int rbf = open(file, O_RDONLY);
    if (rbf < 0) {
        close(fd);
        return -1;
    }
    uint8_t level = 0;
    int result = -1;
    Drive(fd, 7, 0);
    Drive(fd, 7, 0);
    Drive(fd, 8, 0);
    Sleep(50);
    Read(fd, 5, &level);
    Read(fd, 6, &level);
    Drive(fd, 8, 1);
    if (Poll(fd, 5) == 0) {
        Sleep(50);
        ssize_t count;
        result = 0;
        while ((count = read(rbf, buffer, CHUNK)) > 0) {
            if (WriteAll(fd, buffer, (size_t)count) < 0 || Read(fd, 5, &level) < 0 || level == 0) {
                result = -1;
                break;
            }
        }
        if (result == 0) result = Poll(fd, 6);
    }
    Drive(fd, 8, 1);
    Drive(fd, 7, 0);
    Drive(fd, 10, 0);
    Drive(fd, 9, 0);
    Drive(fd, 20, 1);
    close(rbf);
    close(fd);
    return result;
}

static int Compare(const void* a, const void* b) {
    int64_t x = *(const int64_t*)a, y = *(const int64_t*)b;
    return (x > y) - (x < y);
}

static int64_t Median(int64_t* values, int count) {
    qsort(values, (size_t)count, sizeof *values, Compare);
    return values[count / 2];
}

static int Load(const char* file, int runs) {
    int64_t wall[MAX_RUNS], cpu[MAX_RUNS], asked[MAX_RUNS];
    int result = 0;
    for (int run = 0; run < runs; ++run) {
        askedUs = 0;
        int64_t c0 = Ns(CLOCK_PROCESS_CPUTIME_ID), w0 = Ns(CLOCK_MONOTONIC);
        result = LoadOnce(file);
        wall[run] = Ns(CLOCK_MONOTONIC) - w0;
        cpu[run] = Ns(CLOCK_PROCESS_CPUTIME_ID) - c0;
        asked[run] = askedUs * 1000;
    }
    printf("load %.1f %.1f %.1f %d %d\n", Median(wall, runs) / 1e3, Median(cpu, runs) / 1e3,
           Median(asked, runs) / 1e3, 0, result);
    return result == 0 ? 0 : 1;
}

static int regs = -1;
static uint8_t shadow[32];

/* One register access: the command byte, then the data byte with one byte
 * clocked back. */
static int Message(uint8_t command, uint8_t data, uint8_t* received) {
    struct spi_ioc_transfer t[2];
    memset(t, 0, sizeof t);
    t[0].tx_buf = (uintptr_t)&command;
    t[0].len = 1;
    t[0].bits_per_word = 8;
    t[1].tx_buf = (uintptr_t)&data;
    t[1].rx_buf = (uintptr_t)received;
    t[1].len = 1;
    t[1].bits_per_word = 8;
    return ioctl(regs, SPI_IOC_MESSAGE(2), t);
}

static int WriteReg(uint8_t index, uint8_t value) {
    uint8_t received = 0;
    return Message(0x80 + index, value, &received);
}

static int ReadReg(uint8_t index, uint8_t* value) {
    *value = 0;
    return Message(0x40 + index, 0, value);
}

static void SetReg28Bit0(int on) {
    shadow[28] = (uint8_t)((shadow[28] & ~1u) | (on ? 1u : 0u));
    WriteReg(28, shadow[28]);
}

/* The 3 x 5 key matrix, as the library scans it. */
static void ScanKeyboard(uint8_t* inputLines, uint8_t* outputLines) {
    uint8_t in = 0, inputMask = 0x1F, outputMask = 0x07;
    ReadReg(26, &in);
    if (in == 0x1F) {
        *inputLines = *outputLines = 0;
        return;
    }
    for (int i = 0; i < 3; ++i) {
        WriteReg(27, (uint8_t)(~(1u << i) & 0x07));
        ReadReg(26, &in);
        inputMask &= in;
        if (in != 0x1F) outputMask &= (uint8_t)~(1u << i);
    }
    *inputLines = (uint8_t)(~inputMask & 0x1F);
    *outputLines = (uint8_t)(~outputMask & 0x07);
    WriteReg(27, 0);
}

enum { WRITE_REG, READ_REG, SETTER, SCAN };

__attribute__((noinline)) static void Operations(const char* name, int which, long ops, int runs) {
    const char* only = getenv("FPGA_BENCH_ONLY");
    if (only != NULL && strcmp(only, name) != 0) return;
    int64_t wall[MAX_RUNS], cpu[MAX_RUNS];
    uint8_t value = 0, in = 0, out = 0;
    for (int run = 0; run < runs; ++run) {
        int64_t c0 = Ns(CLOCK_PROCESS_CPUTIME_ID), w0 = Ns(CLOCK_MONOTONIC);
        for (long i = 0; i < ops; ++i) {
            switch (which) {
            case WRITE_REG: WriteReg(5, (uint8_t)i); break;
            case READ_REG: ReadReg(5, &value); break;
            case SETTER: SetReg28Bit0((int)(i & 1)); break;
            default: ScanKeyboard(&in, &out);
            }
        }
        wall[run] = Ns(CLOCK_MONOTONIC) - w0;
        cpu[run] = Ns(CLOCK_PROCESS_CPUTIME_ID) - c0;
    }
    printf("%s %.0f %.1f %.3f\n", name, ops * 1e9 / (double)Median(wall, runs),
           (double)Median(cpu, runs) / (double)ops, 0.0);
    if (which == SCAN) printf("keys %u %u\n", in, out);
}

static int Registers(long ops, int runs) {
    regs = open(REGISTER_NODE, O_RDWR);
    if (regs < 0) return 1;
    uint8_t mode = SPI_MODE_1, bits = 0;
    uint32_t speed = 800000;
    ioctl(regs, SPI_IOC_WR_MODE, &mode);
    ioctl(regs, SPI_IOC_RD_MODE, &mode);
    ioctl(regs, SPI_IOC_RD_BITS_PER_WORD, &bits);
    ioctl(regs, SPI_IOC_WR_MAX_SPEED_HZ, &speed);
    ioctl(regs, SPI_IOC_RD_MAX_SPEED_HZ, &speed);
    Operations("WriteReg", WRITE_REG, ops, runs);
    Operations("ReadReg", READ_REG, ops, runs);
    Operations("SetReg28Bit0", SETTER, ops, runs);
    Operations("ScanKeyboard", SCAN, ops, runs);
    close(regs);
    return 0;
}

int main(int argc, char** argv) {
    int runs = argc == 4 ? atoi(argv[3]) : 0;
    if (runs < 1 || runs > MAX_RUNS) runs = 1;
    if (argc == 4 && strcmp(argv[1], "load") == 0) return Load(argv[2], runs);
    if (argc == 4 && strcmp(argv[1], "regs") == 0) return Registers(atol(argv[2]), runs);
    fprintf(stderr, "usage: peer_fpga load FILE RUNS | regs OPS RUNS\n");
    return 2;
}

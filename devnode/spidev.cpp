#include "spidev.h"

#include <sys/ioctl.h>

int Spidev::WriteMode(uint8_t mode) { return node.Ioctl(SPI_IOC_WR_MODE, &mode); }

int Spidev::ReadMode(uint8_t& mode) { return node.Ioctl(SPI_IOC_RD_MODE, &mode); }

int Spidev::WriteBitsPerWord(uint8_t bits) {
    return node.Ioctl(SPI_IOC_WR_BITS_PER_WORD, &bits);
}

int Spidev::ReadBitsPerWord(uint8_t& bits) { return node.Ioctl(SPI_IOC_RD_BITS_PER_WORD, &bits); }

int Spidev::WriteMaxSpeed(uint32_t hz) { return node.Ioctl(SPI_IOC_WR_MAX_SPEED_HZ, &hz); }

int Spidev::ReadMaxSpeed(uint32_t& hz) { return node.Ioctl(SPI_IOC_RD_MAX_SPEED_HZ, &hz); }

int Spidev::Transfer(const uint8_t* tx, uint8_t* rx, size_t length) {
    spi_ioc_transfer transfer{};
    transfer.tx_buf = reinterpret_cast<uintptr_t>(tx);
    transfer.rx_buf = reinterpret_cast<uintptr_t>(rx);
    transfer.len = static_cast<uint32_t>(length);
    transfer.speed_hz = 0;
    transfer.delay_usecs = 0;
    transfer.bits_per_word = kSpiBitsPerWord;
    transfer.cs_change = 0;
    return node.Ioctl(SPI_IOC_MESSAGE(1), &transfer);
}

int Spidev::TwoPartMessage(const uint8_t* first, size_t firstLength, const uint8_t* second,
                           uint8_t* received, size_t secondLength) {
    spi_ioc_transfer transfers[2]{};
    transfers[0].tx_buf = reinterpret_cast<uintptr_t>(first);
    transfers[0].len = static_cast<uint32_t>(firstLength);
    transfers[0].bits_per_word = kSpiBitsPerWord;
    transfers[1].tx_buf = reinterpret_cast<uintptr_t>(second);
    transfers[1].rx_buf = reinterpret_cast<uintptr_t>(received);
    transfers[1].len = static_cast<uint32_t>(secondLength);
    transfers[1].bits_per_word = kSpiBitsPerWord;
    return node.Ioctl(SPI_IOC_MESSAGE(2), transfers);
}

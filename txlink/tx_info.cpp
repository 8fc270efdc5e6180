// Identity and the transmitter's simple commands.
#include <algorithm>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "frame_io.h"
#include "tx_spi.h"

namespace {

constexpr int kFastTimingAbove = 994;
constexpr int kAutoSetupTries = 4;

// The software number text as a base-10 number: leading blanks and a sign
// allowed, reading stops at the first non-digit, 0 without a number. The
// value is held to the 32-bit range whatever the width of long.
int32_t ParseSoftwareNumber(std::string_view text) {
    std::string bounded(text);  // NUL-terminated within its field
    long value = strtol(bounded.c_str(), nullptr, 10);
    value = std::clamp<long>(value, INT32_MIN, INT32_MAX);
    return static_cast<int32_t>(value);
}

int FieldWidth(std::string_view text) { return static_cast<int>(text.size()); }

}  // namespace

int TxSpi::GetInfo(std::span<uint8_t, kTransmitterInfoSize> out) {
    txrx(M_REQ_INFO, 8, 8);
    txrx(M_NULL, 8, kTransmitterInfoSize);

    std::copy_n(rxBuffer.begin(), kTransmitterInfoSize, info.bytes.begin());
    std::copy(info.bytes.begin(), info.bytes.end(), out.begin());

    // Each text is printed up to its NUL, and never past its own field.
    const std::string_view product = info.product();
    const std::string_view revision = info.revision();
    const std::string_view serial = info.serialNumber();
    const std::string_view software = info.software();
    const std::string_view number = info.softwareNumberText();
    fprintf(stderr, "Product:%.*s\n", FieldWidth(product), product.data());
    fprintf(stderr, "Rev:    %.*s\n", FieldWidth(revision), revision.data());
    fprintf(stderr, "SNR:    %.*s\n", FieldWidth(serial), serial.data());
    fprintf(stderr, "SW:%.*s(%.*s)\n", FieldWidth(software), software.data(), FieldWidth(number),
            number.data());

    softwareNumber = ParseSoftwareNumber(number);
    fastTiming = softwareNumber > kFastTimingAbove;
    return softwareNumber;
}

int TxSpi::SetBootLoadMode() { return txrx(M_BOOT_LOAD_MODE, 8, 8); }

int TxSpi::Reset() { return txrx(M_RESET, 8, 8); }

int TxSpi::AutoSetup(uint32_t argument) {
    status.bytes.fill(0);
    faultWord = 0;
    int result = 0;
    for (int tries = 0; tries < kAutoSetupTries; ++tries) {
        // Every exchange clears the transmit buffer: write the argument again.
        WriteU32LE(txBuffer, 8, argument);
        txrx(M_AUTO_SETUP, 12, 8);
        result = txrx(M_NULL, 8, 8);
        if (result == 0) break;
    }
    return result;
}

int TxSpi::SetPolarity(int polarity, uint32_t value) {
    WriteU32LE(txBuffer, 8, polarity == 1 ? 0 : 1);
    WriteU32LE(txBuffer, 12, value);
    return txrx(M_SETPOLARITY, 16, 8);
}

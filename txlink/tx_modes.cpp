// The transmitter's operating modes: confirmed commands, the waits for the
// automatic set-up and for a mode change, and the recovery to the initial
// state. Every sleep and deadline goes through the link's clock.
#include <algorithm>
#include <cstdio>

#include "frame_io.h"
#include "tx_spi.h"

namespace {

constexpr int kConfirmTries = 10;
constexpr int kRecoverTries = 10;
constexpr size_t kBackupOffset = 256;
constexpr int64_t kWaitDeadlineNs = 8000000000;
constexpr int64_t kLegacyPollNs = 20000000;     // 20 ms between queries, legacy timing
constexpr int64_t kReadyPollNs = 500000;        // 500 us between ready-line readings
constexpr int64_t kModeChangePollNs = 5000000;  // 5 ms

}  // namespace

int TxSpi::PollReply() { return txrx(M_NULL, 8, 8); }

int TxSpi::SendConfirmed(uint32_t type, size_t txLength, size_t rxLength) {
    // Every exchange clears the first half of the transmit buffer; the second
    // half keeps the request for the retries.
    const size_t length = std::min(txLength, kBackupOffset);
    const auto backup = txBuffer.begin() + kBackupOffset;
    std::fill(backup, txBuffer.end(), 0);
    std::copy_n(txBuffer.begin(), length, backup);

    int result = 0;
    for (int attempt = 0; attempt < kConfirmTries; ++attempt) {
        if (attempt > 0) std::copy_n(backup, length, txBuffer.begin());
        result = txrx(type, txLength, rxLength);
        if (result != 0) continue;
        result = PollReply();
        if (result == 0) return 0;
    }
    return result;
}

int TxSpi::SendInit() { return SendConfirmed(M_INIT, 8, 8); }

int TxSpi::SendStandby() { return SendConfirmed(M_STANDBY, 8, 8); }

int TxSpi::SendSetup(uint32_t first, uint32_t second, uint32_t third) {
    WriteU32LE(txBuffer, 8, second);
    WriteU32LE(txBuffer, 12, first);
    WriteU32LE(txBuffer, 16, third);
    return SendConfirmed(M_SETUP, 20, 8);
}

int TxSpi::SendSetLimit(uint32_t first, uint32_t second, uint32_t third) {
    WriteU32LE(txBuffer, 8, first);
    WriteU32LE(txBuffer, 12, second);
    WriteU32LE(txBuffer, 16, third);
    return SendConfirmed(M_SET_LIMIT, 20, 8);
}

int TxSpi::SendSetInfo(std::span<const uint8_t, kTransmitterInfoSize> frame) {
    // Bytes 0 to 7 are replaced by the header the exchange writes.
    std::copy(frame.begin(), frame.end(), txBuffer.begin());
    return SendConfirmed(M_SET_INFO, kTransmitterInfoSize, 8);
}

int TxSpi::SendOn(bool on, uint32_t value) {
    WriteU32LE(txBuffer, 8, on ? 1 : 0);
    WriteU32LE(txBuffer, 12, value);
    // Switching off is never retried: its acknowledgement is left to
    // whatever exchange comes next.
    if (!on) return txrx(M_ON, 16, 8);
    return SendConfirmed(M_ON, 16, 8);
}

bool TxSpi::WaitForAutoSetup() {
    timespec deadline = clockInUse->Now();
    AddNanoseconds(deadline, kWaitDeadlineNs);
    if (!fastTiming) clockInUse->Sleep(kLegacyPollNs);

    for (;;) {
        if (fastTiming) {
            if (!WaitReadyTwice(deadline, kReadyPollNs)) {
                fprintf(stderr, "*** WaitForAutoSetup: Timeout  GetSpiRead\n");
            }
        } else {
            clockInUse->Sleep(kLegacyPollNs);
        }

        if (RequestReady()) return true;
        if (activeProtocol != nullptr && (faultWord & activeProtocol->inhibitMask) != 0) {
            printf("*** WaitForAutoSetup: FATAL ERROR 0x%08x \n", faultWord);
            return false;
        }
        if (TimeReached(clockInUse->Now(), deadline)) {
            printf("*** WaitForAutoSetup: Timeout\n");
            return false;
        }
    }
}

bool TxSpi::WaitForModeChangeDone() {
    RequestReady();
    timespec deadline = clockInUse->Now();
    AddNanoseconds(deadline, kWaitDeadlineNs);
    for (;;) {
        if ((faultWord & kFaultModeChange) == 0) return true;
        clockInUse->Sleep(kModeChangePollNs);
        RequestReady();
        // The deadline wins over an answer that came too late.
        if (TimeReached(clockInUse->Now(), deadline)) {
            fprintf(stderr, "*** WaitForModeChangeDone() Timeout \n");
            return false;
        }
    }
}

bool TxSpi::RecoverToInit() {
    bool answered = false;
    for (int attempt = 0; attempt < kRecoverTries && !answered; ++attempt) {
        // Three pipelined exchanges: each brings the reply to the one before.
        if (txrx(M_REQ_FAULTS, 8, 8) != 0) continue;
        if (txrx(M_REQ_MODE, 8, 12) != 0 || rxBuffer[0] != M_FAULTS) continue;
        const uint32_t faults = ReadU32LE(rxBuffer, kFaultsWordOffset).value_or(0);
        if (txrx(M_NULL, 8, 12) != 0 || rxBuffer[0] != M_MODE) continue;

        answered = true;
        if ((faults & kFaultInhibitOrStop) != 0) {
            SendStandby();
            WaitForModeChangeDone();
        }
    }
    if (!answered) txrxRestart();

    RequestReady();
    if ((faultWord & kFaultModeChange) != 0) {
        txrxRestart();
        RequestReady();
    }
    SendInit();
    return true;
}

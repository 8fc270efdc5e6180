// The transmitter's queries: the ready word and the fault word (retried), a
// channel value and a limit (one attempt each); and the link's restart.
#include <cstdio>

#include "frame_io.h"
#include "tx_spi.h"

namespace {

constexpr int kQueryTries = 10;
constexpr double kRestartPauseMs = 100.0;

}  // namespace

int TxSpi::RetriedQuery(uint32_t type, size_t replyLength, uint32_t replyType) {
    int result = -1;
    for (int tries = 0; tries < kQueryTries; ++tries) {
        txrx(type, 8, 8);
        result = txrx(M_NULL, 8, replyLength);
        if (result == 0 && rxBuffer[0] == replyType) return 0;
    }
    // A last good exchange of another type still counts as the answer.
    if (result != 0 && errorCount <= kErrorOutputLimit) {
        fprintf(stderr, "**** TXSPI: Communication retries fails\n");
    }
    return result;
}

bool TxSpi::RequestReady() {
    if (RetriedQuery(M_REQ_READY, 16, M_READY) != 0) return false;
    faultWord = ReadU32LE(rxBuffer, kReadyFaultWordOffset).value_or(0);
    return ReadU32LE(rxBuffer, kReadyWordOffset).value_or(0) != 0;
}

uint32_t TxSpi::RequestFaults() {
    if (RetriedQuery(M_REQ_FAULTS, 12, M_FAULTS) != 0) return 0;
    return ReadU32LE(rxBuffer, kFaultsWordOffset).value_or(0);
}

int TxSpi::txrxRestart() {
    printf("TxSpi::txrxRestart\n");
    txCompletedId = 0;
    txrx(M_STANDBY, 8, 8);
    clockInUse->Sleep(static_cast<int64_t>(kRestartPauseMs * 1000000.0));
    return Reset();
}

int TxSpi::RequestTwoWords(uint32_t type, size_t txLength, size_t replyLength,
                           size_t firstOffset, size_t secondOffset, uint32_t& first,
                           uint32_t& second) {
    txrx(type, txLength, 8);
    const int result = txrx(M_NULL, 8, replyLength);
    first = ReadU32LE(rxBuffer, firstOffset).value_or(0);
    second = ReadU32LE(rxBuffer, secondOffset).value_or(0);
    return result;
}

int TxSpi::RequestValue(uint32_t argument, uint32_t& first, uint32_t& second) {
    WriteU32LE(txBuffer, 8, argument);
    return RequestTwoWords(M_REQ_VALUE, 12, 8, kValueRawOffset, kValueConvertedOffset, first,
                           second);
}

int TxSpi::RequestLimit(uint32_t a, uint32_t b, uint32_t& first, uint32_t& second) {
    WriteU32LE(txBuffer, 8, a);
    WriteU32LE(txBuffer, 12, b);
    return RequestTwoWords(M_REQ_LIMIT, 16, 20, kLimitFirstOffset, kLimitSecondOffset, first,
                           second);
}

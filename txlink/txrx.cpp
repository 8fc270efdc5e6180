// The exchange engine of TxSpi: one request out, the previous request's reply
// in, the checks, the bookkeeping and the error report.
#include <algorithm>
#include <cstdio>

#include "frame_io.h"
#include "tx_spi.h"

namespace {

constexpr int64_t kReadyDeadlineNs = 8000000000;
constexpr int64_t kReadyPollOnNs = 100000;
constexpr int64_t kReadyPollNs = 500000;

}  // namespace

uint8_t TxSpi::NextRequestId() {
    uint8_t cid = static_cast<uint8_t>(frameCounter++ % 256);
    if (cid == 0) cid = static_cast<uint8_t>(frameCounter++ % 256);
    return cid;
}

int TxSpi::txrx(uint32_t type, size_t txLength, size_t rxLength) {
    std::span<uint8_t> tx = TxFrame();
    std::span<uint8_t> rx = std::span(rxBuffer).first(256);
    // A frame declares its length in one byte; nothing beyond the buffer is summed.
    txLength = std::min(txLength, tx.size() - 1);

    // Building and sending.
    const uint8_t cid = NextRequestId();
    WriteU8(tx, 0, static_cast<uint8_t>(type));
    WriteU8(tx, 1, cid);
    WriteU8(tx, 2, static_cast<uint8_t>(activeProtocol ? activeProtocol->version : 5));
    WriteU8(tx, 3, static_cast<uint8_t>(txLength));
    WriteU8(tx, 4, static_cast<uint8_t>(txCompletedId));
    WriteU16LE(tx, 6, 0);
    WriteU16LE(tx, 6, frameChecksum(tx, txLength));

    RequestRecord next;
    next.type = type;
    next.cid = cid;
    next.expectedReplyType =
        type < kMessageTypeCount ? static_cast<uint32_t>(MessageCatalogue[type].replyType) : 0;
    next.expectedReplyLength = ReplyLength(next.expectedReplyType);
    next.expectedCid = cid;

    std::fill(rx.begin(), rx.end(), 0);
    const size_t receiveLength = std::max<size_t>(rxLength, current.ExpectedReplyLength());
    const size_t transferLength = std::max(receiveLength, txLength);

    WaitMinDelay(type == M_ON);
    int flags = SpiTransfer(transferLength, txBuffer.data(), rxBuffer.data());
    StartMinDelay(type);

    // Checking the reply to the previous request.
    const FrameHeader reply = FrameHeader::Read(rx);
    if (!IsReplyType(reply.type)) fprintf(stderr, "**** Not valid message type\n");
    if (reply.length != ReplyLength(reply.type)) {
        fprintf(stderr, "**** Wrong receive size Expect %d != %d\n",
                static_cast<int>(ReplyLength(reply.type)), reply.length);
    }
    if (reply.length > receiveLength) {
        fprintf(stderr, "**** TOO large message received received=%d expected=%d\n", reply.length,
                static_cast<int>(receiveLength));
    }
    if (frameChecksum(rx, reply.length) != reply.checksum) {
        fprintf(stderr, "**** Checksum error\n");
        flags |= CHECKSUM_BAD;
    }
    if (current.expectedReplyType != 0 && current.expectedReplyType != reply.type) {
        fprintf(stderr, "**** Not expected return message type expect=%d got=%d\n",
                static_cast<int>(current.expectedReplyType), reply.type);
        flags |= MESSAGE_TYPE_ERROR;
    }
    if (current.expectedCid == 0) {
        fprintf(stderr, "---- Assume correct cid=%d\n", reply.ackId);
    } else if (current.expectedCid != reply.ackId) {
        fprintf(stderr, "**** Cid error expect %d cid=%d (0x%02x != 0x%02x)\n", current.expectedCid,
                reply.ackId, current.expectedCid, reply.ackId);
        flags |= MISSING_ACK;
    }
    CheckProtocolVersion(reply.version);
    if (flags != 0) ++failedExchanges;

    // Bookkeeping.
    if (history.size() > 2) {
        history.pop_front();
        history.pop_front();
    }
    history.push_back(
        TraceRecord(0, reply.type, reply.ackId, reply.frameId, static_cast<uint32_t>(flags)));
    history.push_back(TraceRecord(1, tx[0], tx[1], tx[4], 0));

    previous = current;
    current = next;

    if (!(flags & CHECKSUM_BAD)) {
        txCompletedId = reply.frameId;
    } else {
        txCompletedId = 0;
        printf("**** Assign unknown tx compleated id=%d\n", 0);
    }

    if (type == M_RESET) {
        // After a reset the board starts afresh: the next reply is a bare
        // acknowledgement whose id is not checked.
        history.clear();
        current.ExpectAcknowledgement();
        errorCount = 0;
        txCompletedId = 0;
        std::fill(tx.begin(), tx.end(), 0);
        return flags;
    }

    if (flags == 0) {
        errorCount = 0;
        std::fill(tx.begin(), tx.end(), 0);
        return 0;
    }

    CountError();
    ReportFailure(transferLength);
    std::fill(tx.begin(), tx.end(), 0);
    return flags;
}

void TxSpi::ReportFailure(size_t transferLength) {
    const bool report = errorCount <= kErrorOutputLimit;
    if (report) {
        fprintf(stderr, "------TXSPI ERROR ----- request id:%d  mt:%s\n", previous.cid & 0xFF,
                MessageName(previous.type & 0xFF));
    }
    while (!history.empty()) {
        if (report && history.size() == 1) {
            fprintf(stderr, "          * RX:");
            size_t count = std::min(transferLength, rxBuffer.size());
            for (size_t i = 0; i < count; ++i) fprintf(stderr, "%02x", rxBuffer[i]);
            fprintf(stderr, "\n");
        }
        if (report) PrintTrace(history.front());
        history.pop_front();
    }
}

void TxSpi::WaitMinDelay(bool isOn) {
    if (delayPending) {
        delayPending = false;
        clockInUse->SleepUntil(notBefore);
    }
    if (!fastTiming) return;

    timespec deadline = clockInUse->Now();
    AddNanoseconds(deadline, kReadyDeadlineNs);
    if (!WaitReadyTwice(deadline, isOn ? kReadyPollOnNs : kReadyPollNs)) {
        printf("*** WaitMinDelay(%d) Timeout tx GetSpiRead\n", isOn ? 1 : 0);
        ++readyTimeouts;
    }
}

bool TxSpi::WaitReadyTwice(const timespec& deadline, int64_t period) {
    bool previousReady = false;
    for (;;) {
        const bool ready = gpio.readReadyLine() != 0;
        if (ready && previousReady) return true;
        previousReady = ready;
        if (TimeReached(clockInUse->Now(), deadline)) return false;
        clockInUse->Sleep(period);
    }
}

void TxSpi::StartMinDelay(uint32_t type) {
    notBefore = clockInUse->Now();
    AddNanoseconds(notBefore, MinDelayNs(type & 0xFF));
    delayPending = true;
}

void TxSpi::ClearErrorCount() { errorCount = 0; }

void TxSpi::CountError() {
    errorCount++;
    current.ExpectAnything();
    txCompletedId = 0;
}

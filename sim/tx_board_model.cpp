#include "tx_board_model.h"

#include <algorithm>
#include <cerrno>
#include <span>
#include <utility>

#include "frame_io.h"
#include "protocol.h"

namespace sim {

namespace {

// Offsets of the five identity texts in M_GET_INFO.
constexpr size_t kInfoFieldSize = 16;
constexpr size_t kSerialOffset = 8;
constexpr size_t kProductOffset = 24;
constexpr size_t kRevisionOffset = 40;
constexpr size_t kSoftwareOffset = 56;
constexpr size_t kSoftwareNumberOffset = 72;

// Copies at most one field's worth of `text`; the frame is zero filled, so a
// shorter text ends with a NUL and a text of 16 bytes or more has none.
void WriteText(std::span<uint8_t> frame, size_t offset, const std::string& text) {
    const size_t n = std::min(text.size(), kInfoFieldSize);
    for (size_t i = 0; i < n; ++i) WriteU8(frame, offset + i, static_cast<uint8_t>(text[i]));
}

// The reply type a request calls for. M_UNKNOWN and types outside the
// catalogue have no reply of their own; the board only acknowledges them.
uint8_t ReplyTypeFor(uint8_t requestType) {
    if (requestType == M_UNKNOWN || requestType >= kMessageTypeCount) return M_NULL;
    return static_cast<uint8_t>(MessageCatalogue[requestType].replyType);
}

bool Reached(int exchange, int from) { return from > 0 && exchange >= from; }

timespec MonotonicNow() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return ts;
}

}  // namespace

TxBoardModel::TxBoardModel(BoardConfig config) : config_(std::move(config)) {
    // What the board has ready before the host's first request.
    pendingReply_ = BuildReply(M_NULL, nextFrameId_++, 0);
}

std::vector<uint8_t> TxBoardModel::BuildReply(uint8_t type, uint8_t frameId,
                                              uint8_t ackId) const {
    // config_ never changes after construction, so no lock is needed here.
    const uint32_t length = ReplyLength(type);
    std::vector<uint8_t> frame(length, 0);
    std::span<uint8_t> out(frame);

    FrameHeader header;
    header.type = type;
    header.frameId = frameId;
    header.version = config_.protocolVersion;
    header.length = static_cast<uint8_t>(length);
    header.ackId = ackId;
    header.Write(out);

    switch (type) {
    case M_GET_INFO:
        WriteText(out, kSerialOffset, config_.identity.serialNumber);
        WriteText(out, kProductOffset, config_.identity.product);
        WriteText(out, kRevisionOffset, config_.identity.revision);
        WriteText(out, kSoftwareOffset, config_.identity.software);
        WriteText(out, kSoftwareNumberOffset, config_.identity.softwareNumber);
        break;
    case M_READY:
        WriteU32LE(out, 8, config_.readyWord);
        WriteU32LE(out, 12, config_.faultWord);
        break;
    case M_FAULTS:
        WriteU32LE(out, 8, config_.faultWord);
        break;
    default:
        break;
    }

    WriteU16LE(out, 6, frameChecksum(frame, length));
    return frame;
}

long TxBoardModel::Transfer(const uint8_t* tx, uint8_t* rx, size_t length) {
    // Taken first: the time the transfer reached the board, not when it was
    // answered.
    const timespec arrived = MonotonicNow();

    BusRecord record;
    long result = 0;
    std::function<void(const BusRecord&)> observer;
    {
        std::lock_guard lock(mutex_);
        const int exchange = ++exchanges_;
        record.exchange = exchange;
        record.transferLength = static_cast<uint32_t>(length);
        record.time = arrived;
        observer = observer_;

        const bool failing =
            Reached(exchange, config_.failIoctlFromExchange) &&
            (config_.failIoctlCount <= 0 ||
             exchange < config_.failIoctlFromExchange + config_.failIoctlCount);
        if (failing) {
            // Nothing moves: the pending reply stays for the next transfer that
            // gets through, and the request never reached the board.
            if (tx != nullptr) record.request.assign(tx, tx + length);
            record.failed = true;
            result = -1;
        } else {
            size_t moved = length;
            if (exchange == config_.shortTransferOnExchange && moved > 0) --moved;

            // What goes out now: the reply prepared during the previous exchange.
            std::vector<uint8_t> out;
            const bool bootSilent = config_.silentAfterBootLoad && bootLoader_ &&
                                    exchange > bootLoadExchange_ + 1;
            if (Reached(exchange, config_.silentFromExchange) || bootSilent) {
                // Zeros only.
            } else if (!config_.garbage.empty()) {
                out = config_.garbage;
            } else {
                out = pendingReply_;
                if (exchange == config_.badChecksumOnExchange) {
                    std::span<uint8_t> frame(out);
                    const uint16_t sum = ReadU16LE(frame, 6).value_or(0);
                    WriteU16LE(frame, 6, static_cast<uint16_t>(sum + 1));
                }
            }
            out.resize(moved, 0);
            if (rx != nullptr) std::copy(out.begin(), out.end(), rx);
            record.reply = std::move(out);

            // What comes in now decides the reply of the next exchange. A
            // host that sends nothing (no tx buffer) clocks out zeros.
            if (tx != nullptr) {
                record.request.assign(tx, tx + moved);
            } else {
                record.request.assign(moved, 0);
            }
            const FrameHeader request = FrameHeader::Read(record.request);
            if (request.type == M_BOOT_LOAD_MODE && !bootLoader_) {
                bootLoader_ = true;
                bootLoadExchange_ = exchange;
            }
            pendingReply_ = BuildReply(ReplyTypeFor(request.type), nextFrameId_, request.frameId);
            // The board's frame ids run 1..255; 0 is never used.
            nextFrameId_ = static_cast<uint8_t>(nextFrameId_ == 255 ? 1 : nextFrameId_ + 1);
            result = static_cast<long>(moved);
        }
    }
    if (config_.wireNsPerByte != 0) {
        // The bytes take their time on the wire; the caller's ioctl returns
        // only then.
        timespec until = arrived;
        const uint64_t ns = static_cast<uint64_t>(config_.wireNsPerByte) * length;
        until.tv_sec += static_cast<time_t>(ns / 1000000000);
        until.tv_nsec += static_cast<long>(ns % 1000000000);
        if (until.tv_nsec >= 1000000000) {
            until.tv_sec += 1;
            until.tv_nsec -= 1000000000;
        }
        while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &until, nullptr) == EINTR) {
        }
    }
    record.finished = MonotonicNow();
    if (config_.keepRecords) {
        std::lock_guard lock(mutex_);
        records_.push_back(record);
    }
    if (observer) observer(record);
    return result;
}

void TxBoardModel::SetMode(uint8_t mode) {
    std::lock_guard lock(mutex_);
    mode_ = mode;
}

uint8_t TxBoardModel::Mode() const {
    std::lock_guard lock(mutex_);
    return mode_;
}

void TxBoardModel::SetBitsPerWord(uint8_t bits) {
    std::lock_guard lock(mutex_);
    bitsPerWord_ = bits;
}

uint8_t TxBoardModel::BitsPerWord() const {
    std::lock_guard lock(mutex_);
    return bitsPerWord_;
}

void TxBoardModel::SetMaxSpeedHz(uint32_t hz) {
    std::lock_guard lock(mutex_);
    speedHz_ = hz;
}

uint32_t TxBoardModel::MaxSpeedHz() const {
    std::lock_guard lock(mutex_);
    return config_.reportedSpeedHz != 0 ? config_.reportedSpeedHz : speedHz_;
}

std::vector<BusRecord> TxBoardModel::Records() const {
    std::lock_guard lock(mutex_);
    return records_;
}

bool TxBoardModel::InBootLoader() const {
    std::lock_guard lock(mutex_);
    return bootLoader_;
}

int TxBoardModel::ExchangeCount() const {
    std::lock_guard lock(mutex_);
    return exchanges_;
}

void TxBoardModel::SetObserver(std::function<void(const BusRecord&)> observer) {
    std::lock_guard lock(mutex_);
    observer_ = std::move(observer);
}

}  // namespace sim

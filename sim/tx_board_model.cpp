#include "tx_board_model.h"

#include <algorithm>
#include <cerrno>
#include <span>
#include <utility>

#include "frame_io.h"
#include "monotonic_time.h"
#include "protocol.h"

namespace sim {

namespace {

// Copies at most one field's worth of `text`; the frame is zero filled, so a
// shorter text ends with a NUL and a text of 16 bytes or more has none.
void WriteText(std::span<uint8_t> frame, size_t offset, const std::string& text) {
    const size_t n = std::min(text.size(), kTextFieldSize);
    for (size_t i = 0; i < n; ++i) WriteU8(frame, offset + i, static_cast<uint8_t>(text[i]));
}

// The reply type a request calls for. M_UNKNOWN and types outside the
// catalogue have no reply of their own; the board only acknowledges them.
uint8_t ReplyTypeFor(uint8_t requestType) {
    if (requestType == M_UNKNOWN || requestType >= kMessageTypeCount) return M_NULL;
    return static_cast<uint8_t>(MessageCatalogue[requestType].replyType);
}

bool Reached(int exchange, int from) { return from > 0 && exchange >= from; }

bool IsModeChange(uint8_t type) {
    return type == M_INIT || type == M_SETUP || type == M_SETMODE || type == M_AUTO_SETUP ||
           type == M_STANDBY;
}

std::string ReadText(std::span<const uint8_t> frame, size_t offset) {
    std::string text;
    for (size_t i = 0; i < kTextFieldSize; ++i) {
        const uint8_t c = ReadU8(frame, offset + i).value_or(0);
        if (c == 0) break;
        text.push_back(static_cast<char>(c));
    }
    return text;
}

}  // namespace

StatusRecord DefaultStatusRecord() {
    StatusRecord r{};
    std::span<uint8_t> s(r);
    WriteF32LE(s, kStatusCgCurrent, 0.5f);
    WriteF32LE(s, kStatusVgVoltage, 48.0f);
    const float ad[4] = {12.1f, 11.8f, 12.0f, 3.3f};
    const int16_t adRaw[4] = {3011, 2937, 2987, 2048};
    for (size_t i = 0; i < 4; ++i) {
        WriteF32LE(s, kStatusAdValue + 4 * i, ad[i]);
        WriteU16LE(s, kStatusAdRaw + 2 * i, static_cast<uint16_t>(adRaw[i]));
    }
    const float temperature[3] = {31.5f, 29.0f, 33.2f};
    for (size_t i = 0; i < 3; ++i) WriteF32LE(s, kStatusTemperature + 4 * i, temperature[i]);
    WriteF32LE(s, kStatusEstimatedLoad, 150.0f);
    WriteU32LE(s, kStatusUpdateCount, 42);
    WriteU16LE(s, kStatusCgCurrentDa, 1200);
    WriteU16LE(s, kStatusVgVoltageDa, 2400);
    WriteU8(s, kStatusIsOn, 0);
    WriteU8(s, kStatusSwitchState, 2);
    WriteU8(s, kStatusCgRange, 1);
    WriteU8(s, kStatusVgRange, 1);
    return r;
}

SnapshotRecord DefaultSnapshotRecord() {
    SnapshotRecord r{};
    std::span<uint8_t> s(r);
    WriteF32LE(s, 20, 0.5f);    // requested current
    WriteF32LE(s, 24, 48.0f);   // requested voltage
    WriteF32LE(s, 72, 150.0f);  // estimated load
    WriteU8(s, 102, 1);         // cg range
    WriteU8(s, 103, 1);         // vg range
    const float ranges[8][2] = {{148.5f, 151.2f}, {47.8f, 48.3f}, {12.0f, 12.4f},
                                {11.9f, 12.1f},   {0.498f, 0.502f}, {23.9f, 24.1f},
                                {23.8f, 24.2f},   {1.2f, 1.6f}};
    for (size_t i = 0; i < 8; ++i) {
        WriteF32LE(s, 104 + 8 * i, ranges[i][0]);
        WriteF32LE(s, 108 + 8 * i, ranges[i][1]);
    }
    return r;
}

std::map<uint32_t, ChannelReading> DefaultChannelReadings() {
    return {
        {1, {12.1f, 3011}}, {2, {0.0f, 0}},     {3, {12.0f, 2987}}, {4, {5.0f, 1241}},
        {5, {0.0f, 0}},     {6, {0.1f, 25}},    {7, {0.1f, 24}},    {8, {12.0f, 2978}},
        {9, {31.5f, 315}},  {10, {29.0f, 290}}, {11, {33.2f, 332}}, {12, {0.0f, 0}},
        {13, {0.0f, 0}},    {14, {1.0f, 1}},    {15, {1.0f, 1}},    {16, {0.0f, 0}},
        {17, {1.0f, 1}},    {18, {0.0f, 0}},    {19, {0.0f, 0}},
    };
}

TxBoardModel::TxBoardModel(BoardConfig boardConfig) : config(std::move(boardConfig)) {
    // What the board has ready before the host's first request.
    pendingReply = BuildReplyLocked(M_NULL, nextFrameId++, 0, {});
}

std::vector<uint8_t> TxBoardModel::BuildReply(uint8_t type, uint8_t frameId, uint8_t ackId,
                                              std::span<const uint8_t> request) const {
    std::lock_guard lock(mutex);
    return BuildReplyLocked(type, frameId, ackId, request);
}

std::vector<uint8_t> TxBoardModel::BuildReplyLocked(uint8_t type, uint8_t frameId, uint8_t ackId,
                                                    std::span<const uint8_t> request) const {
    const uint32_t length = ReplyLength(type);
    std::vector<uint8_t> frame(length, 0);
    std::span<uint8_t> out(frame);
    const uint32_t argument = ReadU32LE(request, 8).value_or(0);

    switch (type) {
    case M_GET_INFO:
        WriteText(out, kInfoSerialOffset, config.identity.serialNumber);
        WriteText(out, kInfoProductOffset, config.identity.product);
        WriteText(out, kInfoRevisionOffset, config.identity.revision);
        WriteText(out, kInfoSoftwareOffset, config.identity.software);
        WriteText(out, kInfoSoftwareNumberOffset, config.identity.softwareNumber);
        break;
    case M_READY:
        // Not ready while a mode change is in progress.
        WriteU32LE(out, kReadyWordOffset, modeChangeLeft > 0 ? 0 : config.readyWord);
        WriteU32LE(out, kReadyFaultWordOffset, config.faultWord);
        break;
    case M_FAULTS:
        WriteU32LE(out, kFaultsWordOffset, config.faultWord);
        break;
    case M_MODE:
        WriteU32LE(out, 8, boardMode);
        break;
    case M_STATUS:
        std::copy(config.status.begin(), config.status.end(), frame.begin());
        WriteU32LE(out, kStatusFaultFlags, config.faultWord);
        break;
    case M_SNAPSHOT: {
        const auto found = config.snapshots.find(static_cast<int32_t>(argument));
        if (found != config.snapshots.end()) {
            std::copy(found->second.begin(), found->second.end(), frame.begin());
        } else {
            std::copy(config.defaultSnapshot.begin(), config.defaultSnapshot.end(),
                      frame.begin());
            WriteU32LE(out, 8, argument);
            WriteU32LE(out, 12, config.faultWord);
            WriteU32LE(out, 16, config.faultWord);
        }
        break;
    }
    case M_GET_VALUE: {
        const auto found = config.channels.find(argument);
        if (found != config.channels.end()) {
            WriteU32LE(out, 8, argument);
            WriteF32LE(out, kValueConvertedOffset, found->second.value);
            WriteU32LE(out, kValueRawOffset, static_cast<uint32_t>(found->second.raw));
        }
        break;
    }
    case M_GET_LIMIT: {
        const auto found = config.limits.find(argument);
        if (found != config.limits.end()) {
            WriteU32LE(out, 8, argument);
            WriteU32LE(out, kLimitFirstOffset, found->second[0]);
            WriteU32LE(out, kLimitSecondOffset, found->second[1]);
        }
        break;
    }
    default:
        break;
    }

    // The header last: the records above carry zeros or stale bytes there.
    FrameHeader header;
    header.type = type;
    header.frameId = frameId;
    header.version = config.protocolVersion;
    header.length = static_cast<uint8_t>(length);
    header.ackId = ackId;
    header.Write(out);
    WriteU16LE(out, 6, 0);
    WriteU16LE(out, 6, frameChecksum(frame, length));
    return frame;
}

void TxBoardModel::FinishModeChange() {
    modeChangeLeft = 0;
    uint32_t& word = config.faultWord;
    word &= ~kFaultModeChange;
    switch (modeCommand) {
    case M_AUTO_SETUP:
    case M_SETUP:
        word |= kFaultWorkingPointValid;
        break;
    case M_INIT:
        word &= ~kFaultWorkingPointValid;
        break;
    case M_STANDBY:
        word &= ~(kFaultInhibitOrStop | kFaultWorkingPointValid);
        break;
    default:
        break;
    }
    boardMode = modeCommand;
}

std::vector<uint8_t> TxBoardModel::Answer(std::span<const uint8_t> bytes) {
    const FrameHeader request = FrameHeader::Read(bytes);
    if (request.type == M_BOOT_LOAD_MODE && !bootLoader) {
        bootLoader = true;
        bootLoadExchange = exchanges;
    }
    if (IsModeChange(request.type)) {
        modeCommand = request.type;
        if (config.modeChangeExchanges > 0) {
            config.faultWord |= kFaultModeChange;
            modeChangeLeft = config.modeChangeExchanges;
        } else {
            FinishModeChange();
        }
    }
    if (request.type == M_ON) {
        WriteU8(config.status, kStatusIsOn, ReadU32LE(bytes, 8).value_or(0) != 0 ? 1 : 0);
    }
    if (request.type == M_SET_LIMIT) {
        config.limits[ReadU32LE(bytes, 8).value_or(0)] = {ReadU32LE(bytes, 12).value_or(0),
                                                           ReadU32LE(bytes, 16).value_or(0)};
    }
    if (request.type == M_SET_INFO) {
        config.identity = {ReadText(bytes, kInfoSerialOffset), ReadText(bytes, kInfoProductOffset),
                           ReadText(bytes, kInfoRevisionOffset),
                           ReadText(bytes, kInfoSoftwareOffset),
                           ReadText(bytes, kInfoSoftwareNumberOffset)};
    }

    uint8_t type = ReplyTypeFor(request.type);
    uint8_t ackId = request.frameId;
    if (config.nullReplyTo.count(request.type) != 0) type = M_NULL;
    if (request.type == config.failAckType && config.failAckCount != 0) {
        // An acknowledgement of some other request.
        ackId = static_cast<uint8_t>(ackId ^ 0x80);
        if (ackId == 0) ackId = 1;
        if (config.failAckCount > 0) --config.failAckCount;
    }
    return BuildReplyLocked(type, nextFrameId, ackId, bytes);
}

long TxBoardModel::Transfer(const uint8_t* tx, uint8_t* rx, size_t length) {
    // Taken first: the time the transfer reached the board, not when it was
    // answered.
    const timespec arrived = MonotonicNow();

    BusRecord record;
    long result = 0;
    std::function<void(const BusRecord&)> notify;
    {
        std::lock_guard lock(mutex);
        const int exchange = ++exchanges;
        // A mode change in progress advances with every exchange that reaches
        // the board.
        if (modeChangeLeft > 0 && --modeChangeLeft == 0) FinishModeChange();
        record.exchange = exchange;
        record.transferLength = static_cast<uint32_t>(length);
        record.time = arrived;
        notify = observer;

        const bool failing =
            Reached(exchange, config.failIoctlFromExchange) &&
            (config.failIoctlCount <= 0 ||
             exchange < config.failIoctlFromExchange + config.failIoctlCount);
        if (failing) {
            // Nothing moves: the pending reply stays for the next transfer that
            // gets through, and the request never reached the board.
            if (tx != nullptr) record.request.assign(tx, tx + length);
            record.failed = true;
            result = -1;
        } else {
            size_t moved = length;
            if (exchange == config.shortTransferOnExchange && moved > 0) --moved;

            // What goes out now: the reply prepared during the previous exchange.
            std::vector<uint8_t> out;
            const bool bootSilent = config.silentAfterBootLoad && bootLoader &&
                                    exchange > bootLoadExchange + 1;
            if (Reached(exchange, config.silentFromExchange) || bootSilent) {
                // Zeros only.
            } else if (!config.garbage.empty()) {
                out = config.garbage;
            } else {
                out = pendingReply;
                if (exchange == config.badChecksumOnExchange) {
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
            pendingReply = Answer(record.request);
            // The board's frame ids run 1..255; 0 is never used.
            nextFrameId = static_cast<uint8_t>(nextFrameId == 255 ? 1 : nextFrameId + 1);
            result = static_cast<long>(moved);
        }
    }
    if (config.wireNsPerByte != 0) {
        // The bytes take their time on the wire; the caller's ioctl returns
        // only then.
        timespec until = arrived;
        const uint64_t ns = static_cast<uint64_t>(config.wireNsPerByte) * length;
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
    if (config.keepRecords) {
        std::lock_guard lock(mutex);
        records.push_back(record);
    }
    if (notify) notify(record);
    return result;
}

void TxBoardModel::SetMode(uint8_t value) {
    std::lock_guard lock(mutex);
    mode = value;
}

uint8_t TxBoardModel::Mode() const {
    std::lock_guard lock(mutex);
    return mode;
}

void TxBoardModel::SetBitsPerWord(uint8_t bits) {
    std::lock_guard lock(mutex);
    bitsPerWord = bits;
}

uint8_t TxBoardModel::BitsPerWord() const {
    std::lock_guard lock(mutex);
    return bitsPerWord;
}

void TxBoardModel::SetMaxSpeedHz(uint32_t hz) {
    std::lock_guard lock(mutex);
    speedHz = hz;
}

uint32_t TxBoardModel::MaxSpeedHz() const {
    std::lock_guard lock(mutex);
    return config.reportedSpeedHz != 0 ? config.reportedSpeedHz : speedHz;
}

std::vector<BusRecord> TxBoardModel::Records() const {
    std::lock_guard lock(mutex);
    return records;
}

bool TxBoardModel::InBootLoader() const {
    std::lock_guard lock(mutex);
    return bootLoader;
}

int TxBoardModel::ExchangeCount() const {
    std::lock_guard lock(mutex);
    return exchanges;
}

void TxBoardModel::Update(const std::function<void(BoardConfig&)>& change) {
    std::lock_guard lock(mutex);
    change(config);
}

BoardConfig TxBoardModel::State() const {
    std::lock_guard lock(mutex);
    return config;
}

void TxBoardModel::SetObserver(std::function<void(const BusRecord&)> callback) {
    std::lock_guard lock(mutex);
    observer = std::move(callback);
}

}  // namespace sim

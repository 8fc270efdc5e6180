// The transmitter protocol's constant vocabulary: message catalogue, reply
// sizes, frame header and checksum, error flags, the records the link keeps of
// its exchanges, and the two protocol versions.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

// Message types, carried in byte 0 of every frame.
enum MessageType : uint32_t {
    M_UNKNOWN = 0,
    M_INIT = 1,
    M_ON = 2,
    M_SETUP = 3,
    M_READY = 4,
    M_REQ_READY = 5,
    M_STATUS = 6,
    M_REQ_STATUS = 7,
    M_SETPOLARITY = 8,
    M_NULL = 9,
    M_SETMODE = 10,
    M_MODE = 11,
    M_12 = 12,
    M_REQ_MODE = 13,
    M_SET_LIMIT = 14,
    M_REQ_LIMIT = 15,
    M_SETRAW = 16,
    M_RESET = 17,
    M_AUTO_SETUP = 18,
    M_STANDBY = 19,
    M_TX_CHECK = 20,
    M_BOOT_LOAD_MODE = 21,
    M_REQ_INFO = 22,
    M_GET_INFO = 23,
    M_GET_LIMIT = 24,
    M_SET_INFO = 25,
    M_REQ_FAULTS = 26,
    M_FAULTS = 27,
    M_REQ_VALUE = 28,
    M_GET_VALUE = 29,
    M_REQ_SNAPSHOT = 30,
    M_SNAPSHOT = 31,
    M_REQ_INFO_UPPER = 32,
    M_GET_INFO_UPPER = 33,
    M_SET_INFO_UPPER = 34,
    M_SET_SETTING_INT_VALUE = 35,
    M_REQ_SETTING_INT_VALUE = 36,
    M_GET_SETTING_INT_VALUE = 37,
    M_SET_SETTING_FLOAT_VALUE = 38,
    M_REQ_SETTING_FLOAT_VALUE = 39,
    M_GET_SETTING_FLOAT_VALUE = 40,
};

constexpr uint32_t kMessageTypeCount = 41;

// One catalogue entry. Pauses are in microseconds; values below the floor of
// their timing (4000 legacy, 200 fast) count as the floor.
struct MessageDescriptor {
    int32_t id;
    const char* name;
    int32_t replyType;
    int64_t legacyDelayUs;
    int64_t fastDelayUs;
    int32_t modeChange;
};

// Indexed by message type.
extern const MessageDescriptor MessageCatalogue[kMessageTypeCount];

struct ReplySize {
    uint32_t replyType;
    uint32_t length;
};

// Frame lengths of the types the transmitter sends, searched in this order.
extern const ReplySize ReplySizeTable[12];

// Bits of the result of one exchange; 0 means success.
enum ErrorFlags : int {
    CHECKSUM_BAD = 1,
    MISSING_ACK = 2,
    IOCTL_ERROR = 4,
    PROTOCOL_VERSION_ERROR = 8,
    MESSAGE_TYPE_ERROR = 16,
};

// Texts of the error bits in the trace line, in bit order 1, 2, 4, 8, 16.
extern const char* const ErrorFlagTexts[5];

constexpr size_t kFrameHeaderSize = 8;
constexpr size_t kMaxTransfer = 200;

// The 8-byte header that starts every frame in both directions.
struct FrameHeader {
    uint8_t type = 0;
    uint8_t frameId = 0;
    uint8_t version = 0;
    uint8_t length = 0;
    uint8_t ackId = 0;
    uint8_t reserved = 0;
    uint16_t checksum = 0;

    // Reads the header from the first 8 bytes; a shorter buffer yields zeros
    // for the missing fields.
    static FrameHeader Read(std::span<const uint8_t> frame);
    // Writes the header into the first 8 bytes; false if the buffer is shorter.
    bool Write(std::span<uint8_t> frame) const;
};

// 16-bit additive sum of `count` unsigned bytes, returned as a signed value.
int16_t Checksum16(const uint8_t* bytes, size_t count);

// The frame checksum: the sum of the first `length` bytes of `frame` with the
// checksum bytes (6 and 7) counted as 0, modulo 65536. Bytes beyond the
// buffer are not read.
uint16_t frameChecksum(std::span<const uint8_t> frame, size_t length);

// Catalogue name, or "*** Unknown message ***" for a type above 40.
const char* MessageName(uint32_t type);
// Frame length of a reply type, 88 when it is not listed.
uint32_t ReplyLength(uint32_t type);
// The length of a reply type that the table does not list.
constexpr uint32_t DefaultReplyLength() { return 88; }
// Whether the transmitter sends frames of this type.
bool IsReplyType(uint32_t type);

// One line of the exchange history.
struct TraceRecord {
    uint8_t direction;  // 0 received ("IN  <--"), 1 sent ("OUT -->")
    uint32_t type;
    uint32_t myId;
    uint32_t txId;
    uint32_t errorFlags;

    TraceRecord(uint8_t dir, uint32_t t, uint32_t my, uint32_t tx, uint32_t flags)
        : direction(dir), type(t), myId(my), txId(tx), errorFlags(flags) {}
};

// What the link remembers of one request, and the reply it calls for.
struct RequestRecord {
    uint32_t type = 0;
    uint32_t cid = 0;
    uint32_t expectedReplyType = 0;
    uint32_t expectedReplyLength = 0;
    uint8_t expectedCid = 0;

    // Expect a bare acknowledgement: M_NULL, 8 bytes, no cid check.
    void ExpectAcknowledgement() {
        expectedReplyType = M_NULL;
        expectedReplyLength = 8;
        expectedCid = 0;
    }
    // Expect anything: no type or cid check, 88 bytes.
    void ExpectAnything() {
        expectedReplyType = 0;
        expectedReplyLength = DefaultReplyLength();
        expectedCid = 0;
    }
    uint32_t ExpectedReplyLength() const { return expectedReplyLength; }
};

// The bits of the fault word that the link and the board act on; every bit
// with a text is in the descriptors' fault-text tables.
constexpr uint32_t kFaultTxInhibited = 0x00000001;        // "Transmission is inhibited"
constexpr uint32_t kFaultEmergencyStop = 0x00000002;      // "Emergence stop function active"
constexpr uint32_t kFaultNotRegulating = 0x00000020;      // "Not regulating"
constexpr uint32_t kFaultWorkingPointValid = 0x01000000;  // "Working point valid"
constexpr uint32_t kFaultEmergencyButton = 0x04000000;    // "Emergency button active"
constexpr uint32_t kFaultModeChange = 0x10000000;         // "Mode change in progress"
// Inhibited or stopped: the bits that only a standby clears.
constexpr uint32_t kFaultInhibitOrStop =
    kFaultTxInhibited | kFaultEmergencyStop | kFaultEmergencyButton;

// --- Records the transmitter sends, by byte offset in the whole frame.
// M_READY: the ready word (non-zero: ready) and the fault word.
constexpr size_t kReadyWordOffset = 8;
constexpr size_t kReadyFaultWordOffset = 12;
// M_FAULTS: the fault word.
constexpr size_t kFaultsWordOffset = 8;
// M_GET_VALUE: the converted value (an IEEE single) and the raw reading.
constexpr size_t kValueConvertedOffset = 12;
constexpr size_t kValueRawOffset = 16;
// M_GET_LIMIT: the two limit words.
constexpr size_t kLimitFirstOffset = 12;
constexpr size_t kLimitSecondOffset = 16;

// M_GET_INFO: five 16-byte texts after the header.
constexpr size_t kTransmitterInfoSize = 88;
constexpr size_t kTextFieldSize = 16;
constexpr size_t kInfoSerialOffset = 8;
constexpr size_t kInfoProductOffset = 24;
constexpr size_t kInfoRevisionOffset = 40;
constexpr size_t kInfoSoftwareOffset = 56;
constexpr size_t kInfoSoftwareNumberOffset = 72;

// M_STATUS: 76 bytes; singles unless said.
constexpr size_t kTxStatusSize = 76;
constexpr size_t kStatusFaultFlags = 8;  // 32-bit word
constexpr size_t kStatusCgCurrent = 12;
constexpr size_t kStatusVgVoltage = 16;
constexpr size_t kStatusAdValue = 20;      // four singles
constexpr size_t kStatusTemperature = 36;  // three singles
constexpr size_t kStatusEstimatedLoad = 52;
constexpr size_t kStatusUpdateCount = 56;  // signed 32-bit
constexpr size_t kStatusAdRaw = 60;        // four signed 16-bit values
constexpr size_t kStatusCgCurrentDa = 68;  // signed 16-bit
constexpr size_t kStatusVgVoltageDa = 70;  // signed 16-bit
constexpr size_t kStatusIsOn = 72;         // bytes from here on
constexpr size_t kStatusSwitchState = 73;
constexpr size_t kStatusCgRange = 74;
constexpr size_t kStatusVgRange = 75;

// M_SNAPSHOT: 200 bytes.
constexpr size_t kSnapshotSize = 200;

// One text of a fault-word bit.
struct FaultText {
    uint32_t mask;
    const char* text;
};

// Everything that differs between protocol versions 4 and 5.
struct ProtocolDescriptor {
    int32_t version;
    uint32_t faultMask;
    uint32_t inhibitMask;
    uint32_t spare1;
    uint32_t spare2;
    const FaultText* faultTexts;
    uint32_t faultTextCount;
    uint32_t spare3;
    uint32_t (*hook)(uint32_t value, uint32_t flag);
};

extern const ProtocolDescriptor ProtocolV4;
extern const ProtocolDescriptor ProtocolV5;

// The descriptor in force for every link of the process; null until the
// first link is constructed. Not guarded: links are driven from one thread.
extern const ProtocolDescriptor* activeProtocol;

#include "protocol.h"

#include "frame_io.h"

const MessageDescriptor MessageCatalogue[kMessageTypeCount] = {
    {0, "M_UNKNOWN", M_UNKNOWN, 0, 0, 0},
    {1, "M_INIT", M_NULL, 175000, 0, 1},
    {2, "M_ON", M_NULL, 0, 0, 0},
    {3, "M_SETUP", M_NULL, 0, 0, 1},
    {4, "M_READY", M_NULL, 1000, 0, 0},
    {5, "M_REQ_READY", M_READY, 4000, 0, 0},
    {6, "M_STATUS", M_NULL, 0, 0, 0},
    {7, "M_REQ_STATUS", M_STATUS, 60000, 0, 0},
    {8, "M_SETPOLARITY", M_NULL, 0, 0, 0},
    {9, "M_NULL", M_NULL, 0, 0, 0},
    {10, "M_SETMODE", M_NULL, 0, 0, 1},
    {11, "M_MODE", M_NULL, 0, 0, 0},
    {12, "M_12", M_NULL, 0, 0, 0},
    {13, "M_REQ_MODE", M_MODE, 0, 0, 0},
    {14, "M_SET_LIMIT", M_NULL, 4000, 0, 0},
    {15, "M_REQ_LIMIT", M_GET_LIMIT, 20000, 0, 0},
    {16, "M_SETRAW", M_NULL, 0, 0, 0},
    {17, "M_RESET", M_NULL, 5000000, 5000000, 0},
    {18, "M_AUTO_SETUP", M_NULL, 50000, 1000, 1},
    {19, "M_STANDBY", M_NULL, 10000, 1000, 1},
    {20, "M_TX_CHECK", M_NULL, 0, 0, 0},
    {21, "M_BOOT_LOAD_MODE", M_NULL, 0, 0, 0},
    {22, "M_REQ_INFO", M_GET_INFO, 60000, 0, 0},
    {23, "M_GET_INFO", M_NULL, 0, 0, 0},
    {24, "M_GET_LIMIT", M_NULL, 1000, 0, 0},
    {25, "M_SET_INFO", M_NULL, 500000, 500000, 0},
    {26, "M_REQ_FAULTS", M_FAULTS, 10000, 0, 0},
    {27, "M_FAULTS", M_NULL, 0, 0, 0},
    {28, "M_REQ_VALUE", M_GET_VALUE, 50000, 0, 0},
    {29, "M_GET_VALUE", M_NULL, 10000, 0, 0},
    {30, "M_REQ_SNAPSHOT", M_SNAPSHOT, 200000, 40000, 0},
    {31, "M_SNAPSHOT", M_NULL, 100000, 0, 0},
    {32, "M_REQ_INFO_UPPER", M_GET_INFO_UPPER, 0, 0, 0},
    {33, "M_GET_INFO_UPPER", M_NULL, 0, 0, 0},
    {34, "M_SET_INFO_UPPER", M_NULL, 0, 0, 0},
    {35, "M_SET_SETTING_INT_VALUE", M_NULL, 0, 0, 0},
    {36, "M_REQ_SETTING_INT_VALUE", M_GET_SETTING_INT_VALUE, 0, 0, 0},
    {37, "M_GET_SETTING_INT_VALUE", M_NULL, 0, 0, 0},
    {38, "M_SET_SETTING_FLOAT_VALUE", M_NULL, 0, 0, 0},
    {39, "M_REQ_SETTING_FLOAT_VALUE", M_GET_SETTING_FLOAT_VALUE, 0, 0, 0},
    {40, "M_GET_SETTING_FLOAT_VALUE", M_NULL, 0, 0, 0},
};

const ReplySize ReplySizeTable[12] = {
    {M_NULL, 8},
    {M_READY, 16},
    {M_STATUS, 76},
    {M_MODE, 12},
    {M_FAULTS, 12},
    {M_GET_LIMIT, 20},
    {M_GET_VALUE, 20},
    {M_GET_SETTING_INT_VALUE, 16},
    {M_GET_SETTING_FLOAT_VALUE, 16},
    {M_SNAPSHOT, 200},
    {M_GET_INFO, 88},
    {M_GET_INFO_UPPER, 88},
};

const char* const ErrorFlagTexts[5] = {
    "*Checksum bad*", "*Missing ack*", "*ioctl error*", "*protocol version error*",
    "*Message type error",
};

FrameHeader FrameHeader::Read(std::span<const uint8_t> frame) {
    FrameHeader h;
    h.type = ReadU8(frame, 0).value_or(0);
    h.frameId = ReadU8(frame, 1).value_or(0);
    h.version = ReadU8(frame, 2).value_or(0);
    h.length = ReadU8(frame, 3).value_or(0);
    h.ackId = ReadU8(frame, 4).value_or(0);
    h.reserved = ReadU8(frame, 5).value_or(0);
    h.checksum = ReadU16LE(frame, 6).value_or(0);
    return h;
}

bool FrameHeader::Write(std::span<uint8_t> frame) const {
    if (frame.size() < kFrameHeaderSize) return false;
    WriteU8(frame, 0, type);
    WriteU8(frame, 1, frameId);
    WriteU8(frame, 2, version);
    WriteU8(frame, 3, length);
    WriteU8(frame, 4, ackId);
    WriteU8(frame, 5, reserved);
    return WriteU16LE(frame, 6, checksum);
}

int16_t Checksum16(const uint8_t* bytes, size_t count) {
    uint16_t sum = 0;
    for (size_t i = 0; i < count; ++i) sum = static_cast<uint16_t>(sum + bytes[i]);
    return static_cast<int16_t>(sum);
}

uint16_t frameChecksum(std::span<const uint8_t> frame, size_t length) {
    if (length > frame.size()) length = frame.size();
    uint16_t sum = static_cast<uint16_t>(Checksum16(frame.data(), length));
    // The checksum field itself counts as zero.
    for (size_t i = 6; i < 8 && i < length; ++i) sum = static_cast<uint16_t>(sum - frame[i]);
    return sum;
}

const char* MessageName(uint32_t type) {
    if (type >= kMessageTypeCount) return "*** Unknown message ***";
    return MessageCatalogue[type].name;
}

uint32_t ReplyLength(uint32_t type) {
    for (const ReplySize& entry : ReplySizeTable) {
        if (entry.replyType == type) return entry.length;
    }
    return DefaultReplyLength();
}

bool IsReplyType(uint32_t type) {
    for (const ReplySize& entry : ReplySizeTable) {
        if (entry.replyType == type) return true;
    }
    return false;
}

namespace {

uint32_t PassThroughHook(uint32_t value, uint32_t /*flag*/) { return value; }

const FaultText kFaultTextsV4[16] = {
    {0x00010000, "No contact? This load is out of range for this transmitter."},
    {0x00000001, "Tx is off"},
    {0x00000002, "Emergency stop is activated"},
    {0x00000004, "Battery and external power is low (Vcommon < 9V)"},
    {0x00000008, "Tx is too warm/hot"},
    {0x00000010, "The EXTC_OUT_POL signal must be held high to allow operation"},
    {0x00000020, "Tx is too warm/hot"},
    {0x00000040, "The calulated power loss is too high"},
    {0x00000080, "The calulated power loss*time is too high"},
    {0x00000100, "The internal isolated +12V is bad (<11.5V)"},
    {0x00020000, "Current generator is not regulating"},
    {0x00040000, "The bridge setting doesn't allow current transmission"},
    {0x00080000, "No voltage from DCDC (~0V)"},
    {0x00100000, "Tx is changeing state"},
    {0x00200000, "Tx regulator is not stable"},
    {0x00400000, "Tx current command zero (da=0)"},
};

const FaultText kFaultTextsV5[17] = {
    {kFaultTxInhibited, "Transmission is inhibited"},
    {kFaultEmergencyStop, "Emergence stop function active"},
    {0x00000004, "No output voltage from main DC/DC"},
    {0x00000008, "Low input power voltage (11.8V/10.0V)"},
    {0x00000010, "Over temperature"},
    {kFaultNotRegulating, "Not regulating"},
    {0x00000040, "Too high power loss"},
    {0x08000000, "Too high energy loss"},
    {0x00000080, "Internal +12V bad"},
    {0x00010000, "Unhandled command"},
    {0x00020000, "Command in wrong mode"},
    {0x00040000, "Command parameters out of range"},
    {kFaultWorkingPointValid, "Working point valid"},
    {0x02000000, "Tx in progress"},
    {kFaultEmergencyButton, "Emergency button active"},
    {kFaultModeChange, "Mode change in progress"},
    {0x20000000, "Working point adjusted during transmission"},
};

}  // namespace

const ProtocolDescriptor ProtocolV4 = {
    4, 0x00000103, 0x00000000, 0, 0x00010000, kFaultTextsV4, 16, 200, PassThroughHook,
};

const ProtocolDescriptor ProtocolV5 = {
    5, 0x0004FFDF, 0x00000003, 2, 0x00040000, kFaultTextsV5, 17, 200, PassThroughHook,
};

const ProtocolDescriptor* activeProtocol = nullptr;

// txdiag commands that drive the transmitter link.
//
// Every command opens the link as the instrument does, reads the identity
// first (which picks the board's timing and protocol version), runs one
// operation of the link and lets it print what it prints. Every exchange and
// every wait for the ready line counts: when any of them failed, the command
// fails, and a value that came with a failed exchange is never shown.
#include <fcntl.h>
#include <linux/spi/spidev.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstring>
#include <string>

#include "cli.h"
#include "diag_command.h"
#include "frame_io.h"
#include "tx_spi.h"

namespace diag {

namespace {

// The channels' names, by channel number minus one.
const char* const kChannelNames[kV5ChannelCount] = {
    "V5_CHANNEL_ANALOGUE_INTERNAL_BATTERY", "V5_CHANNEL_ANALOGUE_EXTERNAL_BATTERY",
    "V5_CHANNEL_ANALOGUE_COMMON_BATTERY",   "V5_CHANNEL_ANALOGUE_USB",
    "V5_CHANNEL_ANALOGUE_CURRENT_FEEDBACK", "V5_CHANNEL_ANALOGUE_LLV_FEEDBACK",
    "V5_CHANNEL_ANALOGUE_RLV_FEEDBACK",     "V5_CHANNEL_ANALOGUE_12V_REFERENCE",
    "V5_CHANNEL_TEMPERATURE_POWER_SWITCH",  "V5_CHANNEL_TEMPERATURE_BRIDGE",
    "V5_CHANNEL_TEMPERATURE_REGULATOR",     "V5_CHANNEL_DIGIO_POLARITY_SWITCH",
    "V5_CHANNEL_DIGIO_EMERGENCY_STOP",      "V5_CHANNEL_DIGIO_DC_DC_POWER_ENABLED",
    "V5_CHANNEL_DIGIO_BATTERY_ON",          "V5_CHANNEL_DIGIO_BATTERY_FAULT",
    "V5_CHANNEL_DIGIO_ISOLATED_POWER",      "V5_CHANNEL_DIGIO_PIOA",
    "V5_CHANNEL_DIGIO_PIOB",
};

// Fields of the 76-byte status record, as the status dump names them.
enum class Kind { F32, I32, I16, U8 };
struct StatusField {
    const char* name;
    size_t offset;
    Kind kind;
};
const StatusField kStatusFields[] = {
    {"fault_flags", 8, Kind::I32},       {"cg_current", 12, Kind::F32},
    {"vg_voltage", 16, Kind::F32},       {"ad_value0", 20, Kind::F32},
    {"ad_value1", 24, Kind::F32},        {"ad_value2", 28, Kind::F32},
    {"ad_value3", 32, Kind::F32},        {"temperature0", 36, Kind::F32},
    {"temperature1", 40, Kind::F32},     {"temperature2", 44, Kind::F32},
    {"estimated_load", 52, Kind::F32},   {"update_count", 56, Kind::I32},
    {"ad_raw0", 60, Kind::I16},          {"ad_raw1", 62, Kind::I16},
    {"ad_raw2", 64, Kind::I16},          {"ad_raw3", 66, Kind::I16},
    {"cg_current_da", 68, Kind::I16},    {"vg_voltage_da", 70, Kind::I16},
    {"is_on", 72, Kind::U8},             {"switch_state", 73, Kind::U8},
    {"cg_range", 74, Kind::U8},          {"vg_range", 75, Kind::U8},
};

// The failure counters of the link at one point; Failure() tells what has
// gone wrong since.
class Watch {
public:
    explicit Watch(const TxSpi& link)
        : link_(link), exchanges_(link.FailedExchanges()), timeouts_(link.ReadyTimeouts()) {}

    // Empty when nothing failed.
    std::string Failure() const {
        const uint64_t exchanges = link_.FailedExchanges() - exchanges_;
        const uint64_t timeouts = link_.ReadyTimeouts() - timeouts_;
        std::string what;
        if (exchanges > 0) what = std::to_string(exchanges) + " failed exchange(s)";
        if (timeouts > 0) {
            if (!what.empty()) what += ", ";
            what += "no ready line before " + std::to_string(timeouts) + " exchange(s)";
        }
        return what;
    }

private:
    const TxSpi& link_;
    uint64_t exchanges_;
    uint64_t timeouts_;
};

// Whether the last exchange brought a frame of `type`.
bool Received(const TxSpi& link, uint32_t type) {
    return FrameHeader::Read(link.RxFrame()).type == type;
}

// Fails the command when anything since `watch` failed or the last frame is
// not of `type`; kExitOk otherwise.
int Check(const Watch& watch, const TxSpi& link, uint32_t type, Report& report,
          const char* what) {
    const std::string failure = watch.Failure();
    if (!failure.empty()) return report.Fail(std::string(what) + ": " + failure);
    if (!Received(link, type)) {
        return report.Fail(std::string(what) + ": the transmitter sent no " + MessageName(type));
    }
    return kExitOk;
}

// A string of the library in the user's encoding; as UTF-8 when the locale
// cannot hold its characters, so that nothing is lost on the way out.
std::string Bytes(const wxString& text) {
    wxScopedCharBuffer bytes = text.mb_str();
    if (bytes.data() == nullptr || (bytes.length() == 0 && !text.empty())) {
        bytes = text.utf8_str();
    }
    return bytes.data() != nullptr ? std::string(bytes.data()) : std::string();
}

void FaultWordValue(cli::JsonWriter& json, uint32_t word) {
    json.Key("fault_word").BeginObject().Key("value").UInt(word).Key("bits").BeginArray();
    if (activeProtocol != nullptr) {
        for (uint32_t i = 0; i < activeProtocol->faultTextCount; ++i) {
            const FaultText& entry = activeProtocol->faultTexts[i];
            if ((entry.mask & word) != 0) {
                json.BeginObject().Key("mask").UInt(entry.mask).Key("name").String(entry.text);
                json.EndObject();
            }
        }
    }
    json.EndArray().EndObject();
}

int Identify(TxSpi& link, Report& report) {
    const Watch watch(link);
    std::array<uint8_t, kTransmitterInfoSize> frame{};
    link.GetInfo(frame);
    report.Step("identity");
    if (!Received(link, M_GET_INFO)) return report.Fail("the transmitter does not answer");
    if (int failed = Check(watch, link, M_GET_INFO, report, "identity")) return failed;
    const TransmitterInfo& info = link.Info();
    report.Values()
        .Key("identity").BeginObject()
        .Key("product").String(info.product())
        .Key("revision").String(info.revision())
        .Key("serial_number").String(info.serialNumber())
        .Key("software").String(info.software())
        .Key("software_number").Int(link.SoftwareNumber())
        .Key("fast_timing").Bool(link.FastTiming())
        .Key("protocol_version").Int(activeProtocol != nullptr ? activeProtocol->version : 0)
        .EndObject();
    return kExitOk;
}

int Info(TxSpi& link, Invocation& call) {
    call.report.Line("software number %d, %s timing", link.SoftwareNumber(),
                     link.FastTiming() ? "fast" : "legacy");
    return kExitOk;
}

int Status(TxSpi& link, Invocation& call) {
    const Watch watch(link);
    link.GetStatus(true);
    call.report.Step("status");
    if (int failed = Check(watch, link, M_STATUS, call.report, "status record")) return failed;
    call.report.Line("%s", Bytes(TxSpi::TxStatusText(link.FaultWord())).c_str());
    cli::JsonWriter& json = call.report.Values();
    FaultWordValue(json, link.FaultWord());
    json.Key("status").BeginObject();
    const std::span<const uint8_t> record(link.Status().bytes);
    for (const StatusField& field : kStatusFields) {
        json.Key(field.name);
        switch (field.kind) {
        case Kind::F32: json.Double(ReadF32LE(record, field.offset).value_or(0.0f)); break;
        case Kind::I32:
            json.Int(static_cast<int32_t>(ReadU32LE(record, field.offset).value_or(0)));
            break;
        case Kind::I16:
            json.Int(static_cast<int16_t>(ReadU16LE(record, field.offset).value_or(0)));
            break;
        case Kind::U8: json.Int(ReadU8(record, field.offset).value_or(0)); break;
        }
    }
    json.EndObject();
    return kExitOk;
}

int Faults(TxSpi& link, Invocation& call) {
    const Watch watch(link);
    const uint32_t word = link.RequestFaults();
    call.report.Step("faults");
    if (int failed = Check(watch, link, M_FAULTS, call.report, "fault word")) return failed;
    call.report.Line("%s", Bytes(TxSpi::TxStatusText(word)).c_str());
    FaultWordValue(call.report.Values(), word);
    return kExitOk;
}

int Ready(TxSpi& link, Invocation& call) {
    const Watch watch(link);
    const bool ready = link.RequestReady();
    call.report.Step("ready");
    if (int failed = Check(watch, link, M_READY, call.report, "ready report")) return failed;
    call.report.Line("%s, fault word 0x%08x", ready ? "ready" : "not ready", link.FaultWord());
    call.report.Values().Key("ready").Bool(ready);
    FaultWordValue(call.report.Values(), link.FaultWord());
    return kExitOk;
}

std::optional<long long> RecordId(const std::string& text) {
    return cli::ParseInteger(text, INT32_MIN, INT32_MAX);
}

int CheckRecordId(const std::vector<std::string>& args) {
    if (RecordId(args[0])) return kExitOk;
    fprintf(stderr, "txdiag: snapshot: bad record id '%s': give a whole number from %d to %d\n",
            args[0].c_str(), INT32_MIN, INT32_MAX);
    return kExitUsage;
}

int Snapshot(TxSpi& link, Invocation& call) {
    const auto id = static_cast<int32_t>(*RecordId(call.args[0]));
    const int version = activeProtocol != nullptr ? activeProtocol->version : 0;
    if (version <= 4) {
        call.report.Line("no snapshots under protocol version %d", version);
        call.report.Values().Key("snapshot").Null();
        return kExitOk;
    }
    const Watch watch(link);
    link.PrintSnapshot(id, true);
    call.report.Step("snapshot");
    if (int failed = Check(watch, link, M_SNAPSHOT, call.report, "snapshot")) return failed;
    const std::span<const uint8_t> s = link.RxFrame();
    auto f32 = [&](size_t offset) { return ReadF32LE(s, offset).value_or(0.0f); };
    call.report.Values()
        .Key("snapshot").BeginObject()
        .Key("record_id").Int(id)
        .Key("fault_flags").UInt(ReadU32LE(s, 12).value_or(0))
        .Key("aggregated_fault_flags").UInt(ReadU32LE(s, 16).value_or(0))
        .Key("requested_current").Double(f32(20))
        .Key("requested_voltage").Double(f32(24))
        .Key("estimated_load").Double(f32(72))
        .Key("cg_range").Int(ReadU8(s, 102).value_or(0))
        .Key("vg_range").Int(ReadU8(s, 103).value_or(0))
        .EndObject();
    return kExitOk;
}

int Values(TxSpi& link, Invocation& call) {
    std::string missing;
    cli::JsonWriter& json = call.report.Values();
    json.Key("channels").BeginArray();
    for (uint32_t channel = 1; channel <= kV5ChannelCount; ++channel) {
        const Watch watch(link);
        uint32_t raw = 0;
        uint32_t bits = 0;
        link.RequestValue(channel, raw, bits);
        const std::string failure = watch.Failure();
        if (!failure.empty() || !Received(link, M_GET_VALUE)) {
            missing += (missing.empty() ? "" : ", ") + std::to_string(channel);
            continue;
        }
        const float value = std::bit_cast<float>(bits);
        const char* name = kChannelNames[channel - 1];
        call.report.Line("%s=%d (0x%x)/ %f", name, static_cast<int>(raw), raw,
                         static_cast<double>(value));
        json.BeginObject().Key("channel").UInt(channel).Key("name").String(name);
        json.Key("raw").Int(static_cast<int32_t>(raw)).Key("value").Double(value).EndObject();
    }
    json.EndArray();
    call.report.Step("values");
    if (!missing.empty()) return call.report.Fail("no reading from channel(s) " + missing);
    return kExitOk;
}

int Version(TxSpi& link, Invocation& call) {
    const std::string text = Bytes(link.GetSoftwareVersion());
    call.report.Line("%s", text.c_str());
    call.report.Values().Key("version").String(text);
    return kExitOk;
}

int Description(TxSpi& link, Invocation& call) {
    const std::string text = Bytes(link.GetUnitDescription());
    call.report.Line("%s", text.c_str());
    call.report.Values().Key("description").String(text);
    return kExitOk;
}

std::string Flags(int flags) { return "error flags " + std::to_string(flags); }

int Standby(TxSpi& link, Invocation& call) {
    const Watch watch(link);
    const int standbyFlags = link.SendStandby();
    call.report.Step("standby");
    if (standbyFlags != 0) {
        return call.report.Fail("not acknowledged (" + Flags(standbyFlags) + ")");
    }
    if (const std::string failure = watch.Failure(); !failure.empty()) {
        return call.report.Fail("acknowledged only after " + failure);
    }
    call.report.Line("standby acknowledged");
    return kExitOk;
}

int Reset(TxSpi& link, Invocation& call) {
    const Watch watch(link);
    link.Reset();
    const uint32_t resetId = link.Current().cid;
    // The acknowledgement comes with the next exchange, 5 s after the reset.
    // The link takes any id there, as the board starts afresh: the tool does
    // not, the reply must name the reset.
    const int flags = link.PollReply();
    call.report.Step("reset");
    if (flags != 0) return call.report.Fail("not acknowledged (" + Flags(flags) + ")");
    if (const std::string failure = watch.Failure(); !failure.empty()) {
        return call.report.Fail(failure);
    }
    const FrameHeader reply = FrameHeader::Read(link.RxFrame());
    if (reply.ackId != resetId) {
        return call.report.Fail("wrong acknowledgement: request id " + std::to_string(reply.ackId) +
                                " instead of " + std::to_string(resetId));
    }
    call.report.Line("reset acknowledged");
    return kExitOk;
}

int Recover(TxSpi& link, Invocation& call) {
    link.RecoverToInit();
    call.report.Step("recover");
    // Failures on the way are what recovering is for; its last step, the
    // confirmed M_INIT, must have gone through.
    if (link.ErrorCount() != 0) return call.report.Fail("M_INIT was not acknowledged");
    call.report.Line("back in the initial state");
    return kExitOk;
}

struct LinkOperation {
    const char* name;
    int (*run)(TxSpi& link, Invocation& call);
};

const LinkOperation kOperations[] = {
    {"info", Info},         {"status", Status},       {"faults", Faults},
    {"ready", Ready},       {"snapshot", Snapshot},   {"values", Values},
    {"version", Version},   {"description", Description}, {"standby", Standby},
    {"reset", Reset},       {"recover", Recover},
};

int RunLinkCommand(Invocation& call) {
    const std::string& device = call.options.device;
    // The library says only that it cannot open the node; this says why.
    if (const std::string why = ProbeSpiNode(device); !why.empty()) {
        return call.report.Fail("cannot use " + device + ": " + why);
    }
    TxSpi link(device.c_str());
    call.report.Step("open");
    if (!link.HasDevice()) return call.report.Fail("cannot open " + device);
    return RunOnLink(call.report.Command(), link, call);
}

const Command kLinkCommands[] = {
    {"info", "", "read and print the transmitter's identity", 0, 0, false, nullptr,
     RunLinkCommand},
    {"status", "", "print the transmitter's status record", 0, 0, false, nullptr,
     RunLinkCommand},
    {"faults", "", "read the fault word and name its bits", 0, 0, false, nullptr,
     RunLinkCommand},
    {"ready", "", "ask whether the transmitter is ready", 0, 0, false, nullptr, RunLinkCommand},
    {"snapshot", "ID", "print snapshot record ID (protocol version 5)", 1, 1, false,
     CheckRecordId, RunLinkCommand},
    {"values", "", "print the 19 channel values", 0, 0, false, nullptr, RunLinkCommand},
    {"version", "", "print the software version", 0, 0, false, nullptr, RunLinkCommand},
    {"description", "", "print product/revision/serial number", 0, 0, false, nullptr,
     RunLinkCommand},
    {"standby", "", "put the transmitter in standby (confirmed)", 0, 0, true, nullptr,
     RunLinkCommand},
    {"reset", "", "reset the transmitter (takes 5 s)", 0, 0, true, nullptr, RunLinkCommand},
    {"recover", "", "bring the transmitter back to its initial state", 0, 0, true, nullptr,
     RunLinkCommand},
};

}  // namespace

std::string ProbeSpiNode(const std::string& path) {
    const int fd = open(path.c_str(), O_RDWR | O_CLOEXEC);
    if (fd < 0) return strerror(errno);
    uint8_t mode = 0;
    const bool spi = ioctl(fd, SPI_IOC_RD_MODE, &mode) == 0;
    close(fd);
    return spi ? std::string() : "not an SPI device";
}

int RunOnLink(const std::string& command, TxSpi& link, Invocation& call) {
    for (const LinkOperation& operation : kOperations) {
        if (command != operation.name) continue;
        if (int failed = Identify(link, call.report)) return failed;
        return operation.run(link, call);
    }
    return call.report.Fail("not a link command");
}

std::span<const Command> LinkCommands() { return kLinkCommands; }

}  // namespace diag

// txdiag commands that drive the transmitter link.
//
// Every command opens the link as the instrument does, reads the identity
// first (which picks the board's timing and protocol version), runs one
// operation of the link and lets it print what it prints. On top of that it
// writes at most one line of its own: the result on standard output, or on
// standard error why the link failed.
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>

#include "diag_command.h"
#include "tx_spi.h"

namespace diag {

namespace {

int Fail(const char* command, const std::string& why) {
    fprintf(stderr, "txdiag: %s: %s\n", command, why.c_str());
    return kExitFailed;
}

// A string of the library in the user's encoding; as UTF-8 when the locale
// cannot hold its characters, so that nothing is lost on the way out.
void PrintLine(const wxString& text) {
    wxScopedCharBuffer bytes = text.mb_str();
    if (bytes.data() == nullptr || (bytes.length() == 0 && !text.empty())) {
        bytes = text.utf8_str();
    }
    printf("%s\n", bytes.data());
}

// Whether the last exchange went through and brought a frame of `type`.
bool Received(const TxSpi& link, uint32_t type) {
    return link.ErrorCount() == 0 && link.RxFrame()[0] == type;
}

// Reads the identity. kExitOk, or kExitFailed after saying why.
int Identify(TxSpi& link, const Options& options, const char* command) {
    if (!link.HasDevice()) return Fail(command, "cannot open " + options.device);
    std::array<uint8_t, kTransmitterInfoSize> info{};
    link.GetInfo(info);
    if (!Received(link, M_GET_INFO)) return Fail(command, "the transmitter does not answer");
    return kExitOk;
}

std::string Flags(int flags) { return "error flags " + std::to_string(flags); }

int RunInfo(const Options& options, const std::vector<std::string>&) {
    TxSpi link(options.device.c_str());
    if (int failed = Identify(link, options, "info")) return failed;
    printf("software number %d, %s timing\n", link.SoftwareNumber(),
           link.FastTiming() ? "fast" : "legacy");
    return kExitOk;
}

int RunStatus(const Options& options, const std::vector<std::string>&) {
    TxSpi link(options.device.c_str());
    if (int failed = Identify(link, options, "status")) return failed;
    link.GetStatus(true);
    if (!Received(link, M_STATUS)) return Fail("status", "no status record from the transmitter");
    PrintLine(TxSpi::TxStatusText(link.FaultWord()));
    return kExitOk;
}

int RunFaults(const Options& options, const std::vector<std::string>&) {
    TxSpi link(options.device.c_str());
    if (int failed = Identify(link, options, "faults")) return failed;
    const uint32_t word = link.RequestFaults();
    if (!Received(link, M_FAULTS)) return Fail("faults", "no fault word from the transmitter");
    PrintLine(TxSpi::TxStatusText(word));
    return kExitOk;
}

int RunReady(const Options& options, const std::vector<std::string>&) {
    TxSpi link(options.device.c_str());
    if (int failed = Identify(link, options, "ready")) return failed;
    const bool ready = link.RequestReady();
    if (!Received(link, M_READY)) return Fail("ready", "no ready report from the transmitter");
    printf("%s, fault word 0x%08x\n", ready ? "ready" : "not ready", link.FaultWord());
    return kExitOk;
}

// A record id: a whole decimal number within the signed 32-bit range.
std::optional<int32_t> ParseRecordId(const std::string& text) {
    if (text.empty() || (text[0] != '-' && (text[0] < '0' || text[0] > '9'))) return std::nullopt;
    errno = 0;
    char* end = nullptr;
    const long long value = strtoll(text.c_str(), &end, 10);
    if (errno != 0 || *end != '\0' || value < INT32_MIN || value > INT32_MAX) return std::nullopt;
    return static_cast<int32_t>(value);
}

int RunSnapshot(const Options& options, const std::vector<std::string>& args) {
    const std::optional<int32_t> id = ParseRecordId(args[0]);
    if (!id) {
        fprintf(stderr,
                "txdiag: snapshot: bad record id '%s': give a whole number from %d to %d\n",
                args[0].c_str(), INT32_MIN, INT32_MAX);
        return kExitUsage;
    }
    TxSpi link(options.device.c_str());
    if (int failed = Identify(link, options, "snapshot")) return failed;
    if (activeProtocol == nullptr || activeProtocol->version <= 4) {
        printf("no snapshots under protocol version %d\n",
               activeProtocol != nullptr ? activeProtocol->version : 0);
        return kExitOk;
    }
    link.PrintSnapshot(*id, true);
    if (!Received(link, M_SNAPSHOT)) return Fail("snapshot", "no snapshot from the transmitter");
    return kExitOk;
}

int RunValues(const Options& options, const std::vector<std::string>&) {
    TxSpi link(options.device.c_str());
    if (int failed = Identify(link, options, "values")) return failed;
    link.PrintChannelValues();
    if (!Received(link, M_GET_VALUE)) return Fail("values", "the link failed during the read-out");
    return kExitOk;
}

int RunVersion(const Options& options, const std::vector<std::string>&) {
    TxSpi link(options.device.c_str());
    if (int failed = Identify(link, options, "version")) return failed;
    PrintLine(link.GetSoftwareVersion());
    return kExitOk;
}

int RunDescription(const Options& options, const std::vector<std::string>&) {
    TxSpi link(options.device.c_str());
    if (int failed = Identify(link, options, "description")) return failed;
    PrintLine(link.GetUnitDescription());
    return kExitOk;
}

int RunStandby(const Options& options, const std::vector<std::string>&) {
    TxSpi link(options.device.c_str());
    if (int failed = Identify(link, options, "standby")) return failed;
    const int flags = link.SendStandby();
    if (flags != 0) return Fail("standby", "not acknowledged (" + Flags(flags) + ")");
    printf("standby acknowledged\n");
    return kExitOk;
}

int RunReset(const Options& options, const std::vector<std::string>&) {
    TxSpi link(options.device.c_str());
    if (int failed = Identify(link, options, "reset")) return failed;
    link.Reset();
    // The acknowledgement comes with the next exchange, 5 s after the reset.
    const int flags = link.PollReply();
    if (flags != 0) return Fail("reset", "not acknowledged (" + Flags(flags) + ")");
    printf("reset acknowledged\n");
    return kExitOk;
}

int RunRecover(const Options& options, const std::vector<std::string>&) {
    TxSpi link(options.device.c_str());
    if (int failed = Identify(link, options, "recover")) return failed;
    link.RecoverToInit();
    // Its last step is the confirmed M_INIT: a failed one leaves errors counted.
    if (link.ErrorCount() != 0) return Fail("recover", "M_INIT was not acknowledged");
    printf("back in the initial state\n");
    return kExitOk;
}

const Command kLinkCommands[] = {
    {"info", "", "read and print the transmitter's identity", 0, 0, RunInfo},
    {"status", "", "print the transmitter's status record", 0, 0, RunStatus},
    {"faults", "", "read the fault word and name its bits", 0, 0, RunFaults},
    {"ready", "", "ask whether the transmitter is ready", 0, 0, RunReady},
    {"snapshot", "ID", "print snapshot record ID (protocol version 5)", 1, 1, RunSnapshot},
    {"values", "", "print the 19 channel values", 0, 0, RunValues},
    {"version", "", "print the software version", 0, 0, RunVersion},
    {"description", "", "print product/revision/serial number", 0, 0, RunDescription},
    {"standby", "", "put the transmitter in standby (confirmed)", 0, 0, RunStandby},
    {"reset", "", "reset the transmitter (takes 5 s)", 0, 0, RunReset},
    {"recover", "", "bring the transmitter back to its initial state", 0, 0, RunRecover},
};

}  // namespace

std::span<const Command> LinkCommands() { return kLinkCommands; }

}  // namespace diag

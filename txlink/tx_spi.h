// The link to the transmitter board over a spidev node.
//
// One TxSpi owns the spidev descriptor, the GPIO access to the transmitter's
// ready line and the exchange history. Every conversation goes through txrx:
// the request is built around the payload the caller left in the transmit
// buffer, the reply to the previous request arrives in the same full-duplex
// transfer and is checked against what that request called for. Failures are
// reported as ErrorFlags and as messages on the standard streams, never as
// exceptions. Not thread-safe: one thread drives one link.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <ctime>
#include <span>
#include <string_view>

#include <wx/string.h>

#include "gpio_port.h"
#include "clock.h"
#include "monotonic_time.h"
#include "protocol.h"
#include "spidev.h"
#include "trace_history.h"

// The 88-byte M_GET_INFO frame: five 16-byte texts after the header.
struct TransmitterInfo {
    std::array<uint8_t, kTransmitterInfoSize> bytes{};

    // Each text ends at its first NUL or at the end of its 16-byte field,
    // whichever comes first: a full field never runs into the next one.
    std::string_view serialNumber() const { return Text(kInfoSerialOffset); }
    std::string_view product() const { return Text(kInfoProductOffset); }
    std::string_view revision() const { return Text(kInfoRevisionOffset); }
    std::string_view software() const { return Text(kInfoSoftwareOffset); }
    std::string_view softwareNumberText() const { return Text(kInfoSoftwareNumberOffset); }

private:
    std::string_view Text(size_t offset) const;
};

// The 76-byte M_STATUS frame, kept whole. Fields are read from the bytes at
// the offsets of protocol.h.
struct TxStatus {
    std::array<uint8_t, kTxStatusSize> bytes{};

    uint32_t FaultFlags() const;
    float EstimatedLoad() const;
};

constexpr size_t kStatusTraceSampleSize = 168;

// The record one status trace line is printed from. Only these bytes are
// read: singles at 0, 4, 8, 104, 108, 112, 116 and 120, a 32-bit word at 12
// and single bytes at 166 and 167; what they mean is the supplier's business.
struct StatusTraceSample {
    std::array<uint8_t, kStatusTraceSampleSize> bytes{};
};

// One tab-separated line of 11 columns on stdout, the first prefixed with '@'.
void PrintStatusTraceLine(const StatusTraceSample& sample);

// The channel numbers of a version-5 transmitter.
enum V5Channel : uint32_t {
    V5_CHANNEL_ANALOGUE_INTERNAL_BATTERY = 1,
    V5_CHANNEL_ANALOGUE_EXTERNAL_BATTERY = 2,
    V5_CHANNEL_ANALOGUE_COMMON_BATTERY = 3,
    V5_CHANNEL_ANALOGUE_USB = 4,
    V5_CHANNEL_ANALOGUE_CURRENT_FEEDBACK = 5,
    V5_CHANNEL_ANALOGUE_LLV_FEEDBACK = 6,
    V5_CHANNEL_ANALOGUE_RLV_FEEDBACK = 7,
    V5_CHANNEL_ANALOGUE_12V_REFERENCE = 8,
    V5_CHANNEL_TEMPERATURE_POWER_SWITCH = 9,
    V5_CHANNEL_TEMPERATURE_BRIDGE = 10,
    V5_CHANNEL_TEMPERATURE_REGULATOR = 11,
    V5_CHANNEL_DIGIO_POLARITY_SWITCH = 12,
    V5_CHANNEL_DIGIO_EMERGENCY_STOP = 13,
    V5_CHANNEL_DIGIO_DC_DC_POWER_ENABLED = 14,
    V5_CHANNEL_DIGIO_BATTERY_ON = 15,
    V5_CHANNEL_DIGIO_BATTERY_FAULT = 16,
    V5_CHANNEL_DIGIO_ISOLATED_POWER = 17,
    V5_CHANNEL_DIGIO_PIOA = 18,
    V5_CHANNEL_DIGIO_PIOB = 19,
};
constexpr uint32_t kV5ChannelCount = 19;

// While more exchanges than this have failed in a row, the link's
// diagnostics are muted.
constexpr int kErrorOutputLimit = 10;

class TxSpi {
public:
    // Opens `devicePath` close-on-exec through `driver`, which answers the
    // node's requests from then on, and sets SPI mode 1, 8 bits per word and
    // 800 kHz. Never fails: without the device every exchange fails with
    // IOCTL_ERROR. The ready line is read on the configuration node, which
    // is opened and asked through `driver` as well.
    explicit TxSpi(const char* devicePath, DeviceDriver& driver = DeviceDriver::System());
    ~TxSpi() = default;  // descriptors and history release themselves

    TxSpi(const TxSpi&) = delete;
    TxSpi& operator=(const TxSpi&) = delete;

    // --- frame format and protocol version
    // The pause after `type` in nanoseconds, with the floor of the timing in
    // force (4 ms legacy, 0.2 ms fast).
    int64_t MinDelayNs(uint32_t type) const;
    // Adopts the announced protocol version (5 for any unknown value); prints
    // "TxSpi: Detected protocol version" on a change. Always true.
    bool CheckProtocolVersion(int version);

    // --- raw link
    // One full-duplex transfer of at most 200 bytes. 0, or IOCTL_ERROR when
    // fewer bytes than `length` moved (or there is no device).
    int SpiTransfer(size_t length, const uint8_t* tx, uint8_t* rx);
    // One "TXSPI:" history line on stderr.
    void PrintTrace(const TraceRecord& record) const;
    // Calls the active protocol's hook; reports the caller's position if it throws.
    uint32_t CallProtocolHook(uint32_t value, uint32_t flag, const char* file, int line);

    // --- exchange engine
    // Sends the request of `type` built around the payload in the transmit
    // buffer and checks the reply to the previous request. Returns ErrorFlags.
    int txrx(uint32_t type, size_t txLength, size_t rxLength);
    // Waits out the pending pause, then (fast timing) for the ready line.
    void WaitMinDelay(bool isOn);
    // Arms the pause that follows a transfer of `type`.
    void StartMinDelay(uint32_t type);
    void ClearErrorCount();
    void CountError();

    // --- identity and simple commands
    // Reads and prints the identity and chooses the timing. Returns the
    // software number; `out` receives the 88-byte frame.
    int GetInfo(std::span<uint8_t, kTransmitterInfoSize> out);
    int SetBootLoadMode();
    int Reset();
    int AutoSetup(uint32_t argument);
    int SetPolarity(int polarity, uint32_t value);

    // --- queries and the restart (tx_queries.cpp)
    // Whether the transmitter reports ready; also stores the fault word.
    bool RequestReady();
    // The transmitter's fault word, 0 when the link fails.
    uint32_t RequestFaults();
    // M_STANDBY, 100 ms, M_RESET; returns the flags of the reset exchange.
    int txrxRestart();
    // M_REQ_VALUE for channel `argument`: `first` receives the raw reading
    // (a signed 32-bit value, offset 16), `second` the bits of the converted
    // value (an IEEE single, offset 12), whatever the exchanges' outcome.
    // Returns the flags of the M_NULL exchange.
    int RequestValue(uint32_t argument, uint32_t& first, uint32_t& second);
    int RequestLimit(uint32_t a, uint32_t b, uint32_t& first, uint32_t& second);

    // --- status record and fault reporting (tx_status.cpp)
    // Fetches M_STATUS, up to 10 attempts; on success keeps the frame and its
    // fault word and, when `print` is set, dumps it on stderr. After 10 failed
    // attempts nothing changes and nothing is printed here.
    void GetStatus(bool print);
    // Whether the kept fault word (with the kept status) shows a fault; true
    // without a protocol descriptor. Under version 5 a board that does not
    // regulate, has no valid working point and estimates no load (|load| below
    // 2^-22; NaN is not zero) is faulted too.
    bool HasFault() const;
    // No fault and bit 24 ("Working point valid") set.
    bool IsWorkingPointValid() const;
    // The kept fault word meets the version's inhibit mask (never under 4).
    bool IsInhibited() const;
    // At most 10 exchanges in a row have failed.
    bool IsLinkHealthy() const;
    // "* text *" on stderr with the first text of the table that matches
    // `word`, or "Unknown fault".
    void PrintFault(uint32_t word) const;
    // "TX status 0x%04x" and the texts of all bits of `word` that have one, in
    // table order. The first text follows the number after ": ", the others
    // after ", ": "TX status 0x10001: No contact? ..., Tx is off".
    static wxString TxStatusText(uint32_t word);

    // --- operating modes and set-up procedures (tx_modes.cpp)
    // All senders return ErrorFlags: 0 when the command was acknowledged.
    // One M_NULL exchange: brings the reply to the request before it.
    int PollReply();
    // Sends the request the caller prepared in the transmit buffer (`txLength`
    // bytes) and confirms it with PollReply; up to 10 tries, the payload
    // restored before each. The flags of the last exchange when all failed.
    int SendConfirmed(uint32_t type, size_t txLength, size_t rxLength);
    int SendInit();
    int SendStandby();
    // M_SETUP carries the first two words swapped: `second` at offset 8,
    // `first` at 12, `third` at 16.
    int SendSetup(uint32_t first, uint32_t second, uint32_t third);
    int SendSetLimit(uint32_t first, uint32_t second, uint32_t third);
    // Sends the caller's 88-byte identity frame; its header is the link's.
    int SendSetInfo(std::span<const uint8_t, kTransmitterInfoSize> frame);
    // On is confirmed; off is one exchange whose acknowledgement only the
    // next exchange checks.
    int SendOn(bool on, uint32_t value);
    // Polls RequestReady until the board reports ready (true), an inhibit bit
    // shows (false, "FATAL ERROR" on stdout) or 8 s have passed (false).
    bool WaitForAutoSetup();
    // Polls every 5 ms until bit 28 ("Mode change in progress") is clear;
    // false after 8 s.
    bool WaitForModeChangeDone();
    // Brings the board back to its initial state: through standby when it is
    // inhibited or stopped, through a link restart when it does not answer or
    // stays in a mode change. Always true.
    bool RecoverToInit();

    // --- snapshot and channel values (tx_snapshot.cpp)
    // Fetches snapshot `recordId` (version 5 only, one attempt) and prints it
    // on stderr; nothing is sent when `print` is false.
    void PrintSnapshot(int32_t recordId, bool print);
    // One RequestValue per channel, 1 to 19, and one line each on stdout.
    void PrintChannelValues();

    // --- version and description text (tx_version.cpp)
    // "product/revision/serial" from the last identity read.
    wxString GetUnitDescription() const;
    // The software version text, followed by "(software number)" unless the
    // version reads as three dotted numbers.
    wxString GetSoftwareVersion() const;

    // --- access for callers
    // The request frame being built (bytes 0 to 255); payload from byte 8.
    std::span<uint8_t> TxFrame() { return std::span(txBuffer).first(256); }
    // The frame received by the last exchange (bytes 0 to 255).
    std::span<const uint8_t> RxFrame() const { return std::span(rxBuffer).first(256); }
    const TransmitterInfo& Info() const { return info; }
    const TxStatus& Status() const { return status; }
    uint32_t FaultWord() const { return faultWord; }
    int ErrorCount() const { return errorCount; }
    // Exchanges that returned flags, and ready-line waits that timed out,
    // since the link was made. Never reset, so a caller that reads them
    // before and after a command learns whether any step of it failed.
    uint64_t FailedExchanges() const { return failedExchanges; }
    uint64_t ReadyTimeouts() const { return readyTimeouts; }
    // Requests of the spidev set-up at construction (mode, word size, clock,
    // each written and read back) that the node refused: 0 when the node
    // took every one.
    int SetupFailures() const { return setupFailures; }
    bool FastTiming() const { return fastTiming; }
    int SoftwareNumber() const { return softwareNumber; }
    uint32_t TxCompletedId() const { return txCompletedId; }
    const RequestRecord& Current() const { return current; }
    const RequestRecord& Previous() const { return previous; }
    const TraceHistory& History() const { return history; }
    bool HasDevice() const { return spi.IsOpen(); }
    GpioPort& Gpio() { return gpio; }
    // Replaces the clock used for pauses, deadlines and sleeps (tests).
    void SetClock(Clock& clock) { clockInUse = &clock; }
    // Replaces the driver that answers the link's spidev requests from now on.
    void SetDriver(DeviceDriver& driver) { spi.SetDriver(driver); }

private:
    // Next request id: 1 to 255, never 0.
    uint8_t NextRequestId();
    // Prints the report of a failed exchange and empties the history.
    void ReportFailure(size_t transferLength);
    // Reads the ready line every `period` ns until it reads ready twice in a
    // row (true) or `deadline` has passed after a reading (false).
    bool WaitReadyTwice(const timespec& deadline, int64_t period);
    // Request `type`, then M_NULL for its reply of `replyLength` bytes, up to
    // 10 times until the reply is of `replyType`. The flags of the last
    // M_NULL exchange: 0 when it was good (of whatever type); otherwise
    // "retries fails" is reported unless the link is muted.
    int RetriedQuery(uint32_t type, size_t replyLength, uint32_t replyType);
    // Request `type` with a `txLength`-byte request, then M_NULL for its
    // reply of `replyLength` bytes; the words at the two offsets of the
    // received frame are stored whatever the outcome. The M_NULL flags.
    int RequestTwoWords(uint32_t type, size_t txLength, size_t replyLength, size_t firstOffset,
                        size_t secondOffset, uint32_t& first, uint32_t& second);

    TraceHistory history;
    std::array<uint8_t, 512> rxBuffer{};
    std::array<uint8_t, 512> txBuffer{};
    Spidev spi;
    TxStatus status;
    TransmitterInfo info;
    uint32_t faultWord = 0;
    uint32_t frameCounter = 0;
    GpioPort gpio;
    bool delayPending = false;
    timespec notBefore{};
    RequestRecord current;
    RequestRecord previous;
    uint32_t txCompletedId = 0;
    bool fastTiming = false;
    int32_t softwareNumber = -1;
    int32_t errorCount = 0;
    uint64_t failedExchanges = 0;
    uint64_t readyTimeouts = 0;
    int setupFailures = 0;
    Clock* clockInUse = &Clock::System();
};

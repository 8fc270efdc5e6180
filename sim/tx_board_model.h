// A model of the transmitter board at the far end of the SPI bus.
//
// It answers each full-duplex transfer, from byte 0, with the reply due for
// the request of the previous transfer (the board's pipelined protocol), and
// records every request so that tests can assert on what went over the bus.
// Thread-safe: umockdev calls it from its worker thread while tests read the
// records from theirs.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <ctime>
#include <functional>
#include <map>
#include <mutex>
#include <set>
#include <span>
#include <string>
#include <vector>

#include "protocol.h"

namespace sim {

// The five identity texts of the M_GET_INFO frame. Each is copied into its
// 16-byte field; a text of 16 bytes or more fills the field without a NUL.
struct BoardIdentity {
    std::string serialNumber = "TX0412-0077";
    std::string product = "TX-500";
    std::string revision = "C";
    std::string software = "5.2.1";
    std::string softwareNumber = "1020";
};

// The 76-byte M_STATUS frame the board reports. Its header and its fault word
// (offset 8) are filled in by the board when it sends the frame.
using StatusRecord = std::array<uint8_t, kTxStatusSize>;
// A 200-byte M_SNAPSHOT frame; the header is the board's.
using SnapshotRecord = std::array<uint8_t, kSnapshotSize>;

// Plausible records of a healthy board in standby: 0.5 A, 48 V, 150 Ohm.
StatusRecord DefaultStatusRecord();
SnapshotRecord DefaultSnapshotRecord();

// The two M_GET_VALUE words of one channel.
struct ChannelReading {
    float value = 0.0f;  // offset 12
    int32_t raw = 0;     // offset 16
};
// Readings for the 19 channels of a version-5 board, keyed by channel number.
std::map<uint32_t, ChannelReading> DefaultChannelReadings();

// failAckCount meaning "every time".
constexpr int kAlways = -1;

// Faults and behaviour of the board. Exchanges are counted from 1 (the first
// SPI_IOC_MESSAGE after the node is opened); 0 disables a fault.
struct BoardConfig {
    BoardIdentity identity{};
    uint8_t protocolVersion = 5;
    // Word at offset 8 of M_READY: non-zero when the board is ready.
    uint32_t readyWord = 1;
    // Fault word: offset 12 of M_READY and offset 8 of M_FAULTS.
    uint32_t faultWord = 0;
    // What the driver reports back for SPI_IOC_RD_MAX_SPEED_HZ: a driver may
    // round the requested rate. 0 keeps the rate that was written.
    uint32_t reportedSpeedHz = 0;
    // The reply sent during this exchange carries a checksum wrong by one.
    int badChecksumOnExchange = 0;
    // From this exchange on the board sends only zero bytes.
    int silentFromExchange = 0;
    // From this exchange on SPI_IOC_MESSAGE fails with -1 / EIO.
    int failIoctlFromExchange = 0;
    // How many exchanges fail from there; 0 means every later one.
    int failIoctlCount = 0;
    // This exchange moves one byte less than asked for.
    int shortTransferOnExchange = 0;
    // After acknowledging M_BOOT_LOAD_MODE the board goes silent, as a real
    // board does once it has entered its USB boot loader.
    bool silentAfterBootLoad = false;
    // When set, the reply frames are replaced by these raw bytes in every
    // exchange (garbage on the bus); shorter than the transfer: zero filled.
    std::vector<uint8_t> garbage{};
    // Holds each transfer for its time on the wire, this many nanoseconds per
    // byte (10000 at 800 kHz), as a real controller does; 0 answers at once.
    uint32_t wireNsPerByte = 0;
    // Keeps a BusRecord of every transfer; off for runs of millions of
    // exchanges, where only the count and the observer are wanted.
    bool keepRecords = true;

    // --- State behind the status, mode and read-out commands.
    // M_STATUS; offsets 0 to 11 are replaced by the header and faultWord.
    StatusRecord status = DefaultStatusRecord();
    // M_SNAPSHOT by the record id of the request (offset 8); an id that is
    // not listed gets `defaultSnapshot` with the live fault word at 12 and 16.
    std::map<int32_t, SnapshotRecord> snapshots{};
    SnapshotRecord defaultSnapshot = DefaultSnapshotRecord();
    // M_GET_VALUE by channel number (offset 8 of M_REQ_VALUE); other
    // channels read 0 and 0.0.
    std::map<uint32_t, ChannelReading> channels = DefaultChannelReadings();
    // M_GET_LIMIT by limit id: M_SET_LIMIT (id, low, high) stores the pair,
    // M_REQ_LIMIT (id, ...) reads it back at offsets 12 and 16.
    std::map<uint32_t, std::array<uint32_t, 2>> limits{};
    // A mode-changing command (M_INIT, M_SETUP, M_SETMODE, M_AUTO_SETUP,
    // M_STANDBY) sets bit 28 of the fault word and the ready word to 0 for
    // this many exchanges after it; 0 completes it at once. At the end
    // M_AUTO_SETUP and M_SETUP set bit 24, M_INIT clears it and M_STANDBY
    // clears bits 0, 1, 24 and 26.
    int modeChangeExchanges = 0;
    // Requests of this type are acknowledged with a wrong request id
    // (MISSING_ACK on the host) `failAckCount` times, or always (kAlways).
    uint8_t failAckType = 0;
    int failAckCount = 0;
    // Requests of these types are answered with a bare M_NULL instead of
    // their reply frame.
    std::set<uint8_t> nullReplyTo{};
};

// One transfer as the board saw it.
struct BusRecord {
    int exchange = 0;                 // 1-based
    std::vector<uint8_t> request;     // every byte the host clocked out (for a
                                      // failed transfer: the bytes it offered)
    std::vector<uint8_t> reply;       // every byte the board clocked back
    uint32_t transferLength = 0;      // length of the transfer record
    timespec time{};                  // CLOCK_MONOTONIC when the transfer arrived
    timespec finished{};              // CLOCK_MONOTONIC when the board let it go
    bool failed = false;              // the ioctl was failed on purpose
};

class TxBoardModel {
public:
    explicit TxBoardModel(BoardConfig config = {});

    // One full-duplex transfer of `length` bytes: fills `rx` with the reply
    // due and takes `tx` as the next request. Returns the byte count the
    // ioctl reports, or -1 when the model fails the ioctl (errno EIO).
    long Transfer(const uint8_t* tx, uint8_t* rx, size_t length);

    // The SPI set-up requests, as the driver sees them.
    void SetMode(uint8_t value);
    uint8_t Mode() const;
    void SetBitsPerWord(uint8_t bits);
    uint8_t BitsPerWord() const;
    void SetMaxSpeedHz(uint32_t hz);
    uint32_t MaxSpeedHz() const;  // what SPI_IOC_RD_MAX_SPEED_HZ reports

    // A copy of every transfer seen so far, oldest first.
    std::vector<BusRecord> Records() const;
    // Whether the board has acknowledged M_BOOT_LOAD_MODE.
    bool InBootLoader() const;
    // Number of SPI_IOC_MESSAGE transfers seen, failed ones included.
    int ExchangeCount() const;

    // Changes the board's state between transfers (under the model's lock).
    void Update(const std::function<void(BoardConfig&)>& change);
    // A copy of the board's current state, e.g. its live fault word.
    BoardConfig State() const;

    // Called once per transfer with its record, after the board has answered
    // and outside the model's lock (so it may call Records()). Runs on the
    // thread that calls Transfer(). Pass an empty function to remove it.
    void SetObserver(std::function<void(const BusRecord&)> observer);

    // Builds the frame the board sends for `type` in answer to request id
    // `ackId`, with the board's frame id `frameId`; `request` is the request
    // it answers (its payload selects the snapshot, channel or limit).
    // Exposed for tests of the model itself and for the frame log.
    std::vector<uint8_t> BuildReply(uint8_t type, uint8_t frameId, uint8_t ackId,
                                    std::span<const uint8_t> request = {}) const;

private:
    std::vector<uint8_t> BuildReplyLocked(uint8_t type, uint8_t frameId, uint8_t ackId,
                                          std::span<const uint8_t> request) const;
    // Takes what a request changes on the board; returns the reply frame.
    std::vector<uint8_t> Answer(std::span<const uint8_t> request);
    void FinishModeChange();

    mutable std::mutex mutex;
    BoardConfig config;
    uint8_t mode = 0;
    uint8_t bitsPerWord = 0;
    uint32_t speedHz = 0;
    int exchanges = 0;
    uint8_t nextFrameId = 1;
    std::vector<uint8_t> pendingReply;  // sent during the next exchange
    bool bootLoader = false;
    int bootLoadExchange = 0;  // the exchange that carried M_BOOT_LOAD_MODE
    std::vector<BusRecord> records;
    int modeChangeLeft = 0;       // exchanges until the mode change is done
    uint8_t modeCommand = 0;      // the command that started it
    uint32_t boardMode = 0;       // last mode command done, for M_MODE
    std::function<void(const BusRecord&)> observer;
};

}  // namespace sim

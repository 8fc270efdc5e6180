// A model of the transmitter board at the far end of the SPI bus.
//
// It answers each full-duplex transfer, from byte 0, with the reply due for
// the request of the previous transfer (the board's pipelined protocol), and
// records every request so that tests can assert on what went over the bus.
// Thread-safe: umockdev calls it from its worker thread while tests read the
// records from theirs.
#pragma once

#include <cstddef>
#include <cstdint>
#include <ctime>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

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

// Faults and behaviour of the board. Exchanges are counted from 1 (the first
// SPI_IOC_MESSAGE after the node is opened); 0 disables a fault.
struct BoardConfig {
    BoardIdentity identity;
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
    std::vector<uint8_t> garbage;
    // Holds each transfer for its time on the wire, this many nanoseconds per
    // byte (10000 at 800 kHz), as a real controller does; 0 answers at once.
    uint32_t wireNsPerByte = 0;
    // Keeps a BusRecord of every transfer; off for runs of millions of
    // exchanges, where only the count and the observer are wanted.
    bool keepRecords = true;
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
    void SetMode(uint8_t mode);
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

    // Called once per transfer with its record, after the board has answered
    // and outside the model's lock (so it may call Records()). Runs on the
    // thread that calls Transfer(). Pass an empty function to remove it.
    void SetObserver(std::function<void(const BusRecord&)> observer);

    // Builds the frame the board sends for `type` in answer to request id
    // `ackId`, with the board's frame id `frameId`. Exposed for tests of the
    // model itself and for the frame log.
    std::vector<uint8_t> BuildReply(uint8_t type, uint8_t frameId, uint8_t ackId) const;

private:
    mutable std::mutex mutex_;
    BoardConfig config_;
    uint8_t mode_ = 0;
    uint8_t bitsPerWord_ = 0;
    uint32_t speedHz_ = 0;
    int exchanges_ = 0;
    uint8_t nextFrameId_ = 1;
    std::vector<uint8_t> pendingReply_;  // sent during the next exchange
    bool bootLoader_ = false;
    int bootLoadExchange_ = 0;  // the exchange that carried M_BOOT_LOAD_MODE
    std::vector<BusRecord> records_;
    std::function<void(const BusRecord&)> observer_;
};

}  // namespace sim

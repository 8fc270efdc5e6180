// The exchange log of txsim: every transfer decoded into one line for what
// the host clocked out and one for what the board clocked back, e.g.
//
//     12.345678 host->board M_REQ_INFO id=1 ack=0 ver=5 len=8 xfer=88 checksum=ok
//     12.345700 board->host M_GET_INFO id=3 ack=1 ver=5 len=88 checksum=ok
//
// Times are seconds since a start time on CLOCK_MONOTONIC.
#pragma once

#include <cstdint>
#include <cstdio>
#include <ctime>
#include <memory>
#include <mutex>
#include <span>
#include <string>

#include "tx_board_model.h"

namespace sim {

class FrameLog {
public:
    // `startTime` is the CLOCK_MONOTONIC time shown as 0.
    explicit FrameLog(timespec startTime);

    // Opens (truncates) the log file. False when it cannot be opened; errno
    // tells why. Without a file, Write() does nothing.
    bool Open(const std::string& path);

    // Decodes one frame's header: "<type> id=.. ack=.. ver=.. len=..
    // checksum=ok|bad(...)|short", or "zeros" / "nothing" for empty traffic.
    // `middle` (e.g. " xfer=88") goes in before the checksum verdict.
    static std::string DescribeFrame(std::span<const uint8_t> bytes,
                                     const std::string& middle = "");

    // The host->board line of `record`, stamped with its arrival time.
    std::string HostLine(const BusRecord& record) const;
    // The board->host line of `record`, stamped with `answered`.
    std::string BoardLine(const BusRecord& record, timespec answered) const;

    // Writes both lines of `record` and flushes, so the log is complete even
    // if txsim is killed. Callable from any thread.
    void Write(const BusRecord& record, timespec answered);

private:
    struct FileCloser {
        void operator()(FILE* f) const { std::fclose(f); }
    };

    std::string Stamp(timespec t) const;

    timespec start;
    std::mutex mutex;
    std::unique_ptr<FILE, FileCloser> file;
};

}  // namespace sim

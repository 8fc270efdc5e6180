// txsim's exchange log: arbitrary transfers, as the emulated board records
// them, through the frame decoder and the two log lines. Every header field
// and the checksum verdict are worked out here from the frame layout, byte
// by byte, and must be what the decoder wrote.
#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <string>

#include "frame_log.h"
#include "fuzz_check.h"
#include "protocol.h"

namespace {

// The decoder's line for `bytes`, from the layout: type, frame id, version,
// length and acknowledged id in bytes 0 to 4 (missing bytes read as 0), the
// checksum little-endian in bytes 6 and 7 over `length` bytes with those two
// taken as 0.
std::string Expected(const std::vector<uint8_t>& bytes, const std::string& middle) {
    if (bytes.empty()) return "nothing" + middle;
    if (std::all_of(bytes.begin(), bytes.end(), [](uint8_t b) { return b == 0; })) return "zeros" + middle;
    uint8_t h[8] = {};
    std::copy_n(bytes.begin(), std::min<size_t>(8, bytes.size()), h);
    char text[96];
    if (h[0] < kMessageTypeCount) {
        snprintf(text, sizeof text, "%s", MessageName(h[0]));
    } else {
        snprintf(text, sizeof text, "type=0x%02x", h[0]);
    }
    std::string line = text;
    snprintf(text, sizeof text, " id=%d ack=%d ver=%d len=%d", h[1], h[4], h[2], h[3]);
    line += text + middle;
    if (h[3] < 8 || h[3] > bytes.size()) return line + " checksum=short";
    unsigned sum = 0;
    for (size_t i = 0; i < h[3]; ++i) sum += (i == 6 || i == 7) ? 0 : bytes[i];
    sum &= 0xFFFF;
    const unsigned stored = h[6] | h[7] << 8;
    if (sum == stored) return line + " checksum=ok";
    snprintf(text, sizeof text, " checksum=bad(0x%04x, want 0x%04x)", stored, sum);
    return line + text;
}

// A time as the monotonic clock gives it: seconds since boot, well within a
// century.
timespec ConsumeTime(FuzzedDataProvider& data) {
    timespec t{};
    t.tv_sec = data.ConsumeIntegralInRange<time_t>(0, time_t{1} << 32);
    t.tv_nsec = data.ConsumeIntegralInRange<long>(0, 999999999);
    return t;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* bytes, size_t size) {
    // The log on a node that swallows it: Write formats, locks and flushes
    // as it does into txsim's file.
    static sim::FrameLog log(timespec{0, 0});
    [[maybe_unused]] static const bool opened = (FUZZ_CHECK(log.Open("/dev/null")), true);
    FuzzedDataProvider data(bytes, size);
    const timespec start = ConsumeTime(data);
    sim::BusRecord record;
    record.failed = data.ConsumeBool();
    record.transferLength = data.ConsumeIntegralInRange<uint32_t>(0, 256);
    record.time = ConsumeTime(data);
    const timespec answered = ConsumeTime(data);
    record.request = data.ConsumeBytes<uint8_t>(data.ConsumeIntegralInRange<size_t>(0, 256));
    record.reply = data.ConsumeRemainingBytes<uint8_t>();

    FUZZ_CHECK(sim::FrameLog::DescribeFrame(record.reply) == Expected(record.reply, ""));
    const std::string xfer = " xfer=" + std::to_string(record.transferLength);
    FUZZ_CHECK(sim::FrameLog::DescribeFrame(record.request, xfer) == Expected(record.request, xfer));

    // Both lines start with a stamp: seconds since the start, six decimals,
    // 0 for a time before the start.
    const auto stamp = [&start](const timespec& at) {
        const int64_t ns = std::max<int64_t>(
            0, (int64_t{at.tv_sec} - start.tv_sec) * 1000000000 + (at.tv_nsec - start.tv_nsec));
        char text[48];
        snprintf(text, sizeof text, "%4lld.%06lld ", static_cast<long long>(ns / 1000000000),
                 static_cast<long long>(ns % 1000000000 / 1000));
        return std::string(text);
    };
    sim::FrameLog timed(start);
    const std::string host = stamp(record.time) + "host->board " + Expected(record.request, xfer);
    if (record.failed) {
        FUZZ_CHECK(timed.HostLine(record) == host + " ioctl=failed");
        FUZZ_CHECK(timed.BoardLine(record, answered) ==
                   stamp(answered) + "board->host nothing (ioctl failed)");
    } else {
        const std::string moved = record.reply.size() == record.transferLength
                                      ? ""
                                      : " moved=" + std::to_string(record.reply.size());
        FUZZ_CHECK(timed.HostLine(record) == host + moved);
        FUZZ_CHECK(timed.BoardLine(record, answered) ==
                   stamp(answered) + "board->host " + Expected(record.reply, ""));
    }
    log.Write(record, answered);
    return 0;
}

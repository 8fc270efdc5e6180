#include "frame_log.h"

#include <algorithm>
#include <cinttypes>

#include "frame_io.h"
#include "protocol.h"

namespace sim {

namespace {

template <typename... Args>
std::string Format(const char* format, Args... args) {
    char buf[160];
    std::snprintf(buf, sizeof buf, format, args...);
    return buf;
}

std::string TypeName(uint8_t type) {
    if (type < kMessageTypeCount) return MessageName(type);
    return Format("type=0x%02x", static_cast<unsigned>(type));
}

}  // namespace

FrameLog::FrameLog(timespec startTime) : start(startTime) {}

bool FrameLog::Open(const std::string& path) {
    // Close-on-exec: the log belongs to txsim, not to the command it runs.
    FILE* f = std::fopen(path.c_str(), "we");
    if (f == nullptr) return false;
    std::lock_guard lock(mutex);
    file.reset(f);
    return true;
}

std::string FrameLog::DescribeFrame(std::span<const uint8_t> bytes, const std::string& middle) {
    if (bytes.empty()) return "nothing" + middle;
    if (std::all_of(bytes.begin(), bytes.end(), [](uint8_t b) { return b == 0; })) {
        return "zeros" + middle;
    }
    const FrameHeader h = FrameHeader::Read(bytes);
    std::string line = TypeName(h.type) +
                       Format(" id=%u ack=%u ver=%u len=%u", unsigned{h.frameId},
                              unsigned{h.ackId}, unsigned{h.version}, unsigned{h.length}) +
                       middle;
    // A length that does not fit the transfer cannot be checked.
    if (h.length < kFrameHeaderSize || h.length > bytes.size()) return line + " checksum=short";
    const uint16_t want = frameChecksum(bytes, h.length);
    if (want == h.checksum) return line + " checksum=ok";
    return line + Format(" checksum=bad(0x%04x, want 0x%04x)", unsigned{h.checksum},
                         unsigned{want});
}

std::string FrameLog::Stamp(timespec t) const {
    int64_t ns = (static_cast<int64_t>(t.tv_sec) - start.tv_sec) * 1000000000 +
                 (t.tv_nsec - start.tv_nsec);
    if (ns < 0) ns = 0;
    return Format("%4" PRId64 ".%06" PRId64, ns / 1000000000, ns % 1000000000 / 1000);
}

std::string FrameLog::HostLine(const BusRecord& record) const {
    std::string line = Stamp(record.time) + " host->board " +
                       DescribeFrame(record.request,
                                     Format(" xfer=%u", unsigned{record.transferLength}));
    if (record.failed) return line + " ioctl=failed";
    if (record.reply.size() != record.transferLength) {
        line += Format(" moved=%zu", record.reply.size());
    }
    return line;
}

std::string FrameLog::BoardLine(const BusRecord& record, timespec answered) const {
    if (record.failed) return Stamp(answered) + " board->host nothing (ioctl failed)";
    return Stamp(answered) + " board->host " + DescribeFrame(record.reply);
}

void FrameLog::Write(const BusRecord& record, timespec answered) {
    const std::string host = HostLine(record);
    const std::string board = BoardLine(record, answered);
    std::lock_guard lock(mutex);
    if (!file) return;
    std::fprintf(file.get(), "%s\n%s\n", host.c_str(), board.c_str());
    std::fflush(file.get());
}

}  // namespace sim

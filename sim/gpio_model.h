// A model of the FPGA configuration node: the transmitter's ready line PA15
// (requests 17 and 19), the switch lines (requests 20 to 31), and the FPGA's
// configuration handshake (inputs 5 and 6, outputs 7 to 10) with the
// bitstream written to the node. Thread-safe.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "gpio_port.h"

namespace sim {

struct SwitchRequest {
    unsigned nr;    // request number: 18, or 20 to 31 except 22
    uint8_t value;  // the switch byte as the driver received it
};

// One pin request (17 or 19) as the driver received it.
struct PinRequest {
    unsigned nr;
    std::string name;  // the record's NUL-terminated name
    bool operator==(const PinRequest&) const = default;
};

// One request of the configuration handshake (5 to 10) or request 20, as the
// driver saw it: the byte written, or for the inputs 5 and 6 the byte
// returned. `result` is what the ioctl returned.
struct ConfigRequest {
    unsigned nr;
    uint8_t value;
    int result = 0;
    bool operator==(const ConfigRequest&) const = default;
};

// Request codes and numbers of the node are those of fpga_map.h; the pin
// record is that of gpio_port.h.

class GpioDeviceModel {
public:
    // The request code of request number `nr`.
    static constexpr unsigned long Request(unsigned nr) {
        return nr == kFpgaConfigStatusInput || nr == kFpgaConfigDoneInput
                   ? FpgaConfigReadRequest(nr)
                   : FpgaConfigWriteRequest(nr);
    }
    // Size of the argument that `request` points to: 6 for the pin record,
    // 1 for a switch or configuration byte, 0 for a request the node does
    // not know.
    static size_t ArgLength(unsigned long request);

    // Level written into the GET_PIN record; 0 (the default) means ready.
    void SetLevel(uint8_t value);
    // Levels for the next GET_PIN readings, one each, before falling back to
    // the fixed level.
    void ScriptLevels(std::vector<uint8_t> levels);
    // GET_PIN returns this value (and leaves the record untouched) when non-zero.
    void SetGetPinResult(int result);
    // The ready line never becomes ready: level 1 forever, script dropped.
    void NeverReady();
    // Whether pin and switch requests are kept for PinRequests() and
    // Switches() (the default); a long run turns it off to stay flat.
    void KeepRequests(bool keep);

    // Handles one request; `arg` points to the caller's argument bytes
    // (6 bytes for the pin record, 1 for a switch byte). Returns the ioctl
    // result and stores the errno in `*err` (0 on success). Unknown requests
    // give -1 with ENOTTY, an argument shorter than the request needs -1
    // with EFAULT, a negative GET_PIN result EIO.
    int Handle(unsigned long request, uint8_t* arg, size_t argLength, int* err);

    // --- The FPGA configuration. Unless scripted, the status input (5)
    // follows output 8, and the done input (6) becomes 1 once the data phase
    // (output 8 at 1) has brought the expected number of bytes, or any byte
    // when no size is expected. Output 8 driven to 0 starts a new bitstream.

    // Values for the next reads of input 5 (or 6), one each, before the
    // model's own behaviour applies again.
    void ScriptStatus(std::vector<uint8_t> levels);
    void ScriptDone(std::vector<uint8_t> levels);
    // Done comes only once `bytes` bytes have arrived; 0: any byte will do.
    void ExpectBitstreamSize(size_t bytes);
    // The `occurrence`-th request `nr` (from 1) fails with -1 / EIO.
    void FailRequest(unsigned nr, int occurrence);
    // Each write takes at most `bytes` bytes (0: all of them).
    void LimitWrite(size_t bytes);
    // The `occurrence`-th write (from 1) returns `result` with errno `err`
    // (0 and 0: it accepts nothing) and takes no byte.
    void FailWrite(int occurrence, int result, int err);

    // Takes up to `length` bytes of a write; returns the count taken, or -1
    // with `*err` set.
    long Write(const uint8_t* bytes, size_t length, int* err);

    // Requests 5 to 10 and 20 in the order received.
    std::vector<ConfigRequest> ConfigRequests() const;
    // Level last driven on output `nr` (7 to 10); -1 before any.
    int OutputLevel(unsigned nr) const;
    // The bytes received since output 8 last went to 0, in order.
    std::vector<uint8_t> Bitstream() const;
    // Write calls seen, interrupted and failed ones included.
    int WriteCount() const;

    int GetPinCount() const;  // GET_PIN requests seen
    int PrepareCount() const;  // request 17 seen
    std::vector<PinRequest> PinRequests() const;  // requests 17 and 19, in order
    std::vector<SwitchRequest> Switches() const;

private:
    mutable std::mutex mutex;
    uint8_t level = 0;
    std::deque<uint8_t> script;
    int getPinResult = 0;
    int getPinCount = 0;
    int prepareCount = 0;
    bool keepRequests = true;
    std::vector<PinRequest> pinRequests;
    std::vector<SwitchRequest> switches;

    int HandleConfig(unsigned nr, uint8_t* arg, int* err);
    std::deque<uint8_t> statusScript;
    std::deque<uint8_t> doneScript;
    size_t expectedSize = 0;
    std::vector<std::pair<unsigned, int>> failures;  // request, occurrence
    std::vector<int> requestCounts = std::vector<int>(32, 0);
    size_t writeLimit = 0;
    int failWriteAt = 0;
    int failWriteResult = 0;
    int failWriteErrno = 0;
    int writes = 0;
    int outputs[4] = {-1, -1, -1, -1};  // outputs 7 to 10
    std::vector<uint8_t> bitstream;
    std::vector<ConfigRequest> configRequests;
};

}  // namespace sim

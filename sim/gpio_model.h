// A model of the GPIO requests of the FPGA configuration node: the
// transmitter's ready line PA15 (requests 17 and 19) and the switch lines
// (requests 20 to 31). Thread-safe.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <mutex>
#include <string>
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

// The node's request codes and pin record are those of gpio_port.h.
class GpioDeviceModel {
public:
    // Size of the argument that `request` points to: 6 for the pin record,
    // 1 for a switch byte, 0 for a request the node does not know.
    static size_t ArgLength(unsigned long request);

    // Level written into the GET_PIN record; 0 (the default) means ready.
    void SetLevel(uint8_t level);
    // Levels for the next GET_PIN readings, one each, before falling back to
    // the fixed level.
    void ScriptLevels(std::vector<uint8_t> levels);
    // GET_PIN returns this value (and leaves the record untouched) when non-zero.
    void SetGetPinResult(int result);
    // The ready line never becomes ready: level 1 forever, script dropped.
    void NeverReady();

    // Handles one request; `arg` points to the caller's argument bytes
    // (6 bytes for the pin record, 1 for a switch byte). Returns the ioctl
    // result and stores the errno in `*err` (0 on success). Unknown requests
    // give -1 with ENOTTY, an argument shorter than the request needs -1
    // with EFAULT, a negative GET_PIN result EIO.
    int Handle(unsigned long request, uint8_t* arg, size_t argLength, int* err);

    int GetPinCount() const;  // GET_PIN requests seen
    int PrepareCount() const;  // request 17 seen
    std::vector<PinRequest> PinRequests() const;  // requests 17 and 19, in order
    std::vector<SwitchRequest> Switches() const;

private:
    mutable std::mutex mutex_;
    uint8_t level_ = 0;
    std::deque<uint8_t> script_;
    int getPinResult_ = 0;
    int getPinCount_ = 0;
    int prepareCount_ = 0;
    std::vector<PinRequest> pinRequests_;
    std::vector<SwitchRequest> switches_;
};

}  // namespace sim

#include "gpio_model.h"

#include <cerrno>
#include <utility>

namespace sim {

namespace {

// The switch requests take a single byte; 22 is not one of them.
bool IsSwitch(unsigned nr) {
    return nr == 18 || (nr >= kGpioRs485Sel && nr <= kGpioRelayEn && nr != 22);
}

bool IsConfig(unsigned nr) { return nr >= kFpgaConfigOutput7 && nr <= kFpgaConfigOutput10; }

// Index of output `nr` in the model's output levels.
unsigned OutputSlot(unsigned nr) { return nr - kFpgaConfigOutput7; }

// The request number, or 0 when the code is not one of this node's.
unsigned RequestNumber(unsigned long request) {
    const unsigned nr = static_cast<unsigned>(request & 0xFFu);
    if ((request & ~0xFFul) == FpgaConfigReadRequest(0)) {
        return nr == kFpgaConfigStatusInput || nr == kFpgaConfigDoneInput ? nr : 0;
    }
    if ((request & ~0xFFul) != FpgaConfigWriteRequest(0)) return 0;
    // The inputs are read requests only.
    return nr == kFpgaConfigStatusInput || nr == kFpgaConfigDoneInput ? 0 : nr;
}

}  // namespace

size_t GpioDeviceModel::ArgLength(unsigned long request) {
    const unsigned nr = RequestNumber(request);
    if (nr == kGpioPreparePin || nr == kGpioGetPin) return kGpioPinRecordSize;
    if (IsSwitch(nr) || IsConfig(nr) || nr == kFpgaConfigStatusInput ||
        nr == kFpgaConfigDoneInput) {
        return 1;
    }
    return 0;
}

void GpioDeviceModel::SetLevel(uint8_t value) {
    std::lock_guard lock(mutex);
    level = value;
}

void GpioDeviceModel::ScriptLevels(std::vector<uint8_t> levels) {
    std::lock_guard lock(mutex);
    script.assign(levels.begin(), levels.end());
}

void GpioDeviceModel::SetGetPinResult(int result) {
    std::lock_guard lock(mutex);
    getPinResult = result;
}

void GpioDeviceModel::NeverReady() {
    std::lock_guard lock(mutex);
    script.clear();
    level = 1;
}

void GpioDeviceModel::KeepRequests(bool keep) {
    std::lock_guard lock(mutex);
    keepRequests = keep;
}

int GpioDeviceModel::Handle(unsigned long request, uint8_t* arg, size_t argLength, int* err) {
    int dummy = 0;
    if (err == nullptr) err = &dummy;
    *err = 0;

    const size_t need = ArgLength(request);
    if (need == 0) {
        *err = ENOTTY;
        return -1;
    }
    if (arg == nullptr || argLength < need) {
        *err = EFAULT;
        return -1;
    }

    const unsigned nr = RequestNumber(request);
    std::lock_guard lock(mutex);
    if (nr <= kFpgaConfigOutput10 || nr == kGpioRs485Sel) {
        const int result = HandleConfig(nr, arg, err);
        if (nr != kGpioRs485Sel || result < 0) return result;
    }
    if (nr == kGpioPreparePin || nr == kGpioGetPin) {
        // The name is NUL-terminated within its five bytes; a driver would not
        // read past them either.
        std::string name;
        for (size_t i = 0; i < kGpioPinRecordSize - 1 && arg[i] != 0; ++i) {
            name.push_back(static_cast<char>(arg[i]));
        }
        if (keepRequests) pinRequests.push_back(PinRequest{nr, std::move(name)});
    }
    if (nr == kGpioPreparePin) {
        ++prepareCount;
        return 0;
    }
    if (nr == kGpioGetPin) {
        ++getPinCount;
        if (getPinResult != 0) {
            if (getPinResult < 0) *err = EIO;
            return getPinResult;
        }
        uint8_t pinLevel = level;
        if (!script.empty()) {
            pinLevel = script.front();
            script.pop_front();
        }
        arg[kGpioPinRecordSize - 1] = pinLevel;
        return 0;
    }
    if (keepRequests) switches.push_back(SwitchRequest{nr, arg[0]});
    return 0;
}

int GpioDeviceModel::HandleConfig(unsigned nr, uint8_t* arg, int* err) {
    const int count = ++requestCounts[nr];
    for (const auto& [failNr, occurrence] : failures) {
        if (failNr == nr && occurrence == count) {
            *err = EIO;
            configRequests.push_back(ConfigRequest{nr, arg[0], -1});
            return -1;
        }
    }
    if (nr == kFpgaConfigStatusInput || nr == kFpgaConfigDoneInput) {
        std::deque<uint8_t>& inputScript = nr == kFpgaConfigStatusInput ? statusScript : doneScript;
        uint8_t input = 0;
        if (!inputScript.empty()) {
            input = inputScript.front();
            inputScript.pop_front();
        } else if (nr == kFpgaConfigStatusInput) {
            input = outputs[OutputSlot(kFpgaConfigOutput8)] == 1 ? 1 : 0;
        } else {
            const bool enough = expectedSize > 0 ? bitstream.size() >= expectedSize
                                                  : !bitstream.empty();
            input = outputs[OutputSlot(kFpgaConfigOutput8)] == 1 && enough ? 1 : 0;
        }
        arg[0] = input;
    } else if (IsConfig(nr)) {
        outputs[OutputSlot(nr)] = arg[0];
        if (nr == kFpgaConfigOutput8 && arg[0] == 0) bitstream.clear();
    }
    configRequests.push_back(ConfigRequest{nr, arg[0], 0});
    return 0;
}

void GpioDeviceModel::ScriptStatus(std::vector<uint8_t> levels) {
    std::lock_guard lock(mutex);
    statusScript.assign(levels.begin(), levels.end());
}

void GpioDeviceModel::ScriptDone(std::vector<uint8_t> levels) {
    std::lock_guard lock(mutex);
    doneScript.assign(levels.begin(), levels.end());
}

void GpioDeviceModel::ExpectBitstreamSize(size_t bytes) {
    std::lock_guard lock(mutex);
    expectedSize = bytes;
}

void GpioDeviceModel::FailRequest(unsigned nr, int occurrence) {
    std::lock_guard lock(mutex);
    failures.emplace_back(nr, occurrence);
}

void GpioDeviceModel::LimitWrite(size_t bytes) {
    std::lock_guard lock(mutex);
    writeLimit = bytes;
}

void GpioDeviceModel::FailWrite(int occurrence, int result, int err) {
    std::lock_guard lock(mutex);
    failWriteAt = occurrence;
    failWriteResult = result;
    failWriteErrno = err;
}

long GpioDeviceModel::Write(const uint8_t* bytes, size_t length, int* err) {
    std::lock_guard lock(mutex);
    *err = 0;
    ++writes;
    if (writes == failWriteAt) {
        *err = failWriteErrno;
        return failWriteResult;
    }
    const size_t taken = writeLimit > 0 && length > writeLimit ? writeLimit : length;
    bitstream.insert(bitstream.end(), bytes, bytes + taken);
    return static_cast<long>(taken);
}

std::vector<ConfigRequest> GpioDeviceModel::ConfigRequests() const {
    std::lock_guard lock(mutex);
    return configRequests;
}

int GpioDeviceModel::OutputLevel(unsigned nr) const {
    std::lock_guard lock(mutex);
    return IsConfig(nr) ? outputs[OutputSlot(nr)] : -1;
}

std::vector<uint8_t> GpioDeviceModel::Bitstream() const {
    std::lock_guard lock(mutex);
    return bitstream;
}

int GpioDeviceModel::WriteCount() const {
    std::lock_guard lock(mutex);
    return writes;
}

int GpioDeviceModel::GetPinCount() const {
    std::lock_guard lock(mutex);
    return getPinCount;
}

int GpioDeviceModel::PrepareCount() const {
    std::lock_guard lock(mutex);
    return prepareCount;
}

std::vector<PinRequest> GpioDeviceModel::PinRequests() const {
    std::lock_guard lock(mutex);
    return pinRequests;
}

std::vector<SwitchRequest> GpioDeviceModel::Switches() const {
    std::lock_guard lock(mutex);
    return switches;
}

}  // namespace sim

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
    if (IsSwitch(nr) || IsConfig(nr) || nr == kFpgaConfigStatusInput || nr == kFpgaConfigDoneInput) {
        return 1;
    }
    return 0;
}

void GpioDeviceModel::SetLevel(uint8_t level) {
    std::lock_guard lock(mutex_);
    level_ = level;
}

void GpioDeviceModel::ScriptLevels(std::vector<uint8_t> levels) {
    std::lock_guard lock(mutex_);
    script_.assign(levels.begin(), levels.end());
}

void GpioDeviceModel::SetGetPinResult(int result) {
    std::lock_guard lock(mutex_);
    getPinResult_ = result;
}

void GpioDeviceModel::NeverReady() {
    std::lock_guard lock(mutex_);
    script_.clear();
    level_ = 1;
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
    std::lock_guard lock(mutex_);
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
        pinRequests_.push_back(PinRequest{nr, std::move(name)});
    }
    if (nr == kGpioPreparePin) {
        ++prepareCount_;
        return 0;
    }
    if (nr == kGpioGetPin) {
        ++getPinCount_;
        if (getPinResult_ != 0) {
            if (getPinResult_ < 0) *err = EIO;
            return getPinResult_;
        }
        uint8_t level = level_;
        if (!script_.empty()) {
            level = script_.front();
            script_.pop_front();
        }
        arg[kGpioPinRecordSize - 1] = level;
        return 0;
    }
    switches_.push_back(SwitchRequest{nr, arg[0]});
    return 0;
}

int GpioDeviceModel::HandleConfig(unsigned nr, uint8_t* arg, int* err) {
    const int count = ++requestCounts_[nr];
    for (const auto& [failNr, occurrence] : failures_) {
        if (failNr == nr && occurrence == count) {
            *err = EIO;
            configRequests_.push_back(ConfigRequest{nr, arg[0], -1});
            return -1;
        }
    }
    if (nr == kFpgaConfigStatusInput || nr == kFpgaConfigDoneInput) {
        std::deque<uint8_t>& script = nr == kFpgaConfigStatusInput ? statusScript_ : doneScript_;
        uint8_t level = 0;
        if (!script.empty()) {
            level = script.front();
            script.pop_front();
        } else if (nr == kFpgaConfigStatusInput) {
            level = outputs_[OutputSlot(kFpgaConfigOutput8)] == 1 ? 1 : 0;
        } else {
            const bool enough = expectedSize_ > 0 ? bitstream_.size() >= expectedSize_
                                                  : !bitstream_.empty();
            level = outputs_[OutputSlot(kFpgaConfigOutput8)] == 1 && enough ? 1 : 0;
        }
        arg[0] = level;
    } else if (IsConfig(nr)) {
        outputs_[OutputSlot(nr)] = arg[0];
        if (nr == kFpgaConfigOutput8 && arg[0] == 0) bitstream_.clear();
    }
    configRequests_.push_back(ConfigRequest{nr, arg[0], 0});
    return 0;
}

void GpioDeviceModel::ScriptStatus(std::vector<uint8_t> levels) {
    std::lock_guard lock(mutex_);
    statusScript_.assign(levels.begin(), levels.end());
}

void GpioDeviceModel::ScriptDone(std::vector<uint8_t> levels) {
    std::lock_guard lock(mutex_);
    doneScript_.assign(levels.begin(), levels.end());
}

void GpioDeviceModel::ExpectBitstreamSize(size_t bytes) {
    std::lock_guard lock(mutex_);
    expectedSize_ = bytes;
}

void GpioDeviceModel::FailRequest(unsigned nr, int occurrence) {
    std::lock_guard lock(mutex_);
    failures_.emplace_back(nr, occurrence);
}

void GpioDeviceModel::LimitWrite(size_t bytes) {
    std::lock_guard lock(mutex_);
    writeLimit_ = bytes;
}

void GpioDeviceModel::FailWrite(int occurrence, int result, int err) {
    std::lock_guard lock(mutex_);
    failWriteAt_ = occurrence;
    failWriteResult_ = result;
    failWriteErrno_ = err;
}

long GpioDeviceModel::Write(const uint8_t* bytes, size_t length, int* err) {
    std::lock_guard lock(mutex_);
    *err = 0;
    ++writes_;
    if (writes_ == failWriteAt_) {
        *err = failWriteErrno_;
        return failWriteResult_;
    }
    const size_t taken = writeLimit_ > 0 && length > writeLimit_ ? writeLimit_ : length;
    bitstream_.insert(bitstream_.end(), bytes, bytes + taken);
    return static_cast<long>(taken);
}

std::vector<ConfigRequest> GpioDeviceModel::ConfigRequests() const {
    std::lock_guard lock(mutex_);
    return configRequests_;
}

int GpioDeviceModel::OutputLevel(unsigned nr) const {
    std::lock_guard lock(mutex_);
    return IsConfig(nr) ? outputs_[OutputSlot(nr)] : -1;
}

std::vector<uint8_t> GpioDeviceModel::Bitstream() const {
    std::lock_guard lock(mutex_);
    return bitstream_;
}

int GpioDeviceModel::WriteCount() const {
    std::lock_guard lock(mutex_);
    return writes_;
}

int GpioDeviceModel::GetPinCount() const {
    std::lock_guard lock(mutex_);
    return getPinCount_;
}

int GpioDeviceModel::PrepareCount() const {
    std::lock_guard lock(mutex_);
    return prepareCount_;
}

std::vector<PinRequest> GpioDeviceModel::PinRequests() const {
    std::lock_guard lock(mutex_);
    return pinRequests_;
}

std::vector<SwitchRequest> GpioDeviceModel::Switches() const {
    std::lock_guard lock(mutex_);
    return switches_;
}

}  // namespace sim

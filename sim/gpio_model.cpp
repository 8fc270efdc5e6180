#include "gpio_model.h"

#include <cerrno>
#include <utility>

namespace sim {

namespace {

constexpr unsigned kGpioPreparePin = GPIO_PREPARE_PIN - GpioRequest(0);
constexpr unsigned kGpioGetPin = GPIO_GET_PIN - GpioRequest(0);

// The switch requests take a single byte; 22 is not one of them.
bool IsSwitch(unsigned nr) { return nr == 18 || (nr >= 20 && nr <= 31 && nr != 22); }

// The request number, or 0 when the code is not one of this node's.
unsigned RequestNumber(unsigned long request) {
    if ((request & ~0xFFul) != GpioRequest(0)) return 0;
    return static_cast<unsigned>(request & 0xFFu);
}

}  // namespace

size_t GpioDeviceModel::ArgLength(unsigned long request) {
    const unsigned nr = RequestNumber(request);
    if (nr == kGpioPreparePin || nr == kGpioGetPin) return kGpioPinRecordSize;
    if (IsSwitch(nr)) return 1;
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

#include "fpga_reg_model.h"

#include <cerrno>

#include "fpga_map.h"

namespace sim {

FpgaRegisterModel::FpgaRegisterModel() = default;

uint8_t FpgaRegisterModel::ReadValue(uint8_t index) {
    if (index == FPGA_REG_TEST_RD) {
        ++signatureReads_;
        const bool running = signatureFromRead_ > 0 && signatureReads_ >= signatureFromRead_;
        return running ? kFpgaSignature : 0x00;
    }
    if (index == FPGA_REG_FPGA_STATUS && !statusScript_.empty()) {
        const uint8_t value = statusScript_.front();
        statusScript_.pop_front();
        return value;
    }
    if (index == FPGA_REG_KEYB_IN) {
        uint8_t lines = 0x1F;
        for (const auto& [out, in] : keys_) {
            if ((registers_[FPGA_REG_KEYB_OUT] & (1u << out)) == 0) lines &= static_cast<uint8_t>(~(1u << in));
        }
        return lines;
    }
    return registers_[index];  // register 31 echoes what was written
}

long FpgaRegisterModel::Message(uint8_t command, uint8_t data, uint8_t* reply, int* err) {
    std::lock_guard lock(mutex_);
    *err = 0;
    const bool write = (command & kFpgaCommandMask) == kFpgaWriteCommand;
    const bool read = (command & kFpgaCommandMask) == kFpgaReadCommand;
    if (!write && !read) {
        *err = EINVAL;  // not a command this FPGA knows
        transfers_.push_back(RegisterTransfer{command, data, 0, true});
        return -1;
    }
    const uint8_t index = command & kFpgaIndexMask;
    const int access = ++accesses_[index];
    if (failFrom_[index] > 0 && access >= failFrom_[index]) {
        *err = EIO;
        transfers_.push_back(RegisterTransfer{command, data, 0, true});
        return -1;
    }
    uint8_t value = 0;
    if (write) {
        registers_[index] = data;
    } else {
        value = ReadValue(index);
    }
    *reply = value;
    transfers_.push_back(RegisterTransfer{command, data, value, false});
    return 2;
}

void FpgaRegisterModel::SetMode(uint8_t mode) {
    std::lock_guard lock(mutex_);
    mode_ = mode;
}

uint8_t FpgaRegisterModel::Mode() const {
    std::lock_guard lock(mutex_);
    return mode_;
}

uint8_t FpgaRegisterModel::BitsPerWord() const {
    std::lock_guard lock(mutex_);
    return bitsPerWord_;
}

void FpgaRegisterModel::SetMaxSpeedHz(uint32_t hz) {
    std::lock_guard lock(mutex_);
    speedHz_ = hz;
}

uint32_t FpgaRegisterModel::MaxSpeedHz() const {
    std::lock_guard lock(mutex_);
    return speedHz_;
}

void FpgaRegisterModel::SignatureFromRead(int reads) {
    std::lock_guard lock(mutex_);
    signatureFromRead_ = reads;
    signatureReads_ = 0;
}

void FpgaRegisterModel::ScriptStatus(std::vector<uint8_t> values) {
    std::lock_guard lock(mutex_);
    statusScript_.assign(values.begin(), values.end());
}

void FpgaRegisterModel::FailRegister(uint8_t index, int occurrence) {
    std::lock_guard lock(mutex_);
    failFrom_[index & kFpgaIndexMask] = occurrence + accesses_[index & kFpgaIndexMask];
}

void FpgaRegisterModel::PressKey(int out, int in) {
    std::lock_guard lock(mutex_);
    keys_.emplace(out, in);
}

void FpgaRegisterModel::SetRegister(uint8_t index, uint8_t value) {
    std::lock_guard lock(mutex_);
    registers_[index & kFpgaIndexMask] = value;
}

std::array<uint8_t, kFpgaRegisterCount> FpgaRegisterModel::Registers() const {
    std::lock_guard lock(mutex_);
    return registers_;
}

std::vector<RegisterTransfer> FpgaRegisterModel::Transfers() const {
    std::lock_guard lock(mutex_);
    return transfers_;
}

void FpgaRegisterModel::ClearTransfers() {
    std::lock_guard lock(mutex_);
    transfers_.clear();
}

}  // namespace sim

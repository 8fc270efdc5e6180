#include "fpga_reg_model.h"

#include <cerrno>

#include "fpga_map.h"

namespace sim {

FpgaRegisterModel::FpgaRegisterModel() = default;

uint8_t FpgaRegisterModel::ReadValue(uint8_t index) {
    if (index == FPGA_REG_TEST_RD) {
        ++signatureReads;
        const bool running = signatureFromRead > 0 && signatureReads >= signatureFromRead;
        return running ? kFpgaSignature : 0x00;
    }
    if (index == FPGA_REG_FPGA_STATUS && !statusScript.empty()) {
        const uint8_t value = statusScript.front();
        statusScript.pop_front();
        return value;
    }
    if (index == FPGA_REG_KEYB_IN) {
        uint8_t lines = 0x1F;
        for (const auto& [out, in] : keys) {
            if ((registers[FPGA_REG_KEYB_OUT] & (1u << out)) == 0) {
                lines &= static_cast<uint8_t>(~(1u << in));
            }
        }
        return lines;
    }
    return registers[index];  // register 31 echoes what was written
}

long FpgaRegisterModel::Message(uint8_t command, uint8_t data, uint8_t* reply, int* err) {
    std::lock_guard lock(mutex);
    *err = 0;
    const bool write = (command & kFpgaCommandMask) == kFpgaWriteCommand;
    const bool read = (command & kFpgaCommandMask) == kFpgaReadCommand;
    if (!write && !read) {
        *err = EINVAL;  // not a command this FPGA knows
        transfers.push_back(RegisterTransfer{command, data, 0, true});
        return -1;
    }
    const uint8_t index = command & kFpgaIndexMask;
    const int access = ++accesses[index];
    if (failFrom[index] > 0 && access >= failFrom[index]) {
        *err = EIO;
        transfers.push_back(RegisterTransfer{command, data, 0, true});
        return -1;
    }
    uint8_t value = 0;
    if (write) {
        registers[index] = data;
    } else {
        value = ReadValue(index);
    }
    *reply = value;
    transfers.push_back(RegisterTransfer{command, data, value, false});
    return 2;
}

void FpgaRegisterModel::SetMode(uint8_t value) {
    std::lock_guard lock(mutex);
    mode = value;
}

uint8_t FpgaRegisterModel::Mode() const {
    std::lock_guard lock(mutex);
    return mode;
}

uint8_t FpgaRegisterModel::BitsPerWord() const {
    std::lock_guard lock(mutex);
    return bitsPerWord;
}

void FpgaRegisterModel::SetMaxSpeedHz(uint32_t hz) {
    std::lock_guard lock(mutex);
    speedHz = hz;
}

uint32_t FpgaRegisterModel::MaxSpeedHz() const {
    std::lock_guard lock(mutex);
    return speedHz;
}

void FpgaRegisterModel::SignatureFromRead(int reads) {
    std::lock_guard lock(mutex);
    signatureFromRead = reads;
    signatureReads = 0;
}

void FpgaRegisterModel::ScriptStatus(std::vector<uint8_t> values) {
    std::lock_guard lock(mutex);
    statusScript.assign(values.begin(), values.end());
}

void FpgaRegisterModel::FailRegister(uint8_t index, int occurrence) {
    std::lock_guard lock(mutex);
    failFrom[index & kFpgaIndexMask] = occurrence + accesses[index & kFpgaIndexMask];
}

void FpgaRegisterModel::PressKey(int out, int in) {
    std::lock_guard lock(mutex);
    keys.emplace(out, in);
}

void FpgaRegisterModel::SetRegister(uint8_t index, uint8_t value) {
    std::lock_guard lock(mutex);
    registers[index & kFpgaIndexMask] = value;
}

std::array<uint8_t, kFpgaRegisterCount> FpgaRegisterModel::Registers() const {
    std::lock_guard lock(mutex);
    return registers;
}

std::vector<RegisterTransfer> FpgaRegisterModel::Transfers() const {
    std::lock_guard lock(mutex);
    return transfers;
}

void FpgaRegisterModel::ClearTransfers() {
    std::lock_guard lock(mutex);
    transfers.clear();
}

}  // namespace sim

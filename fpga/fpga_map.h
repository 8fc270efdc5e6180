// The FPGA's vocabulary, shared by the register file, the bitstream loader,
// the GPIO port and the device models: the register map, the command byte of
// a register transfer, the signature, and the requests of the configuration
// node. Constants only; it includes nothing of ours.
#pragma once

#include <cstdint>

// --- Register file: 32 eight-bit registers.
constexpr int kFpgaRegisterCount = 32;

// Registers with a name. The FPGA_REG_ names are those the register dump
// prints; the others are named here after what they hold.
enum FpgaRegister : uint8_t {
    FPGA_REG_FPGA_CTRL = 0,
    FPGA_REG_FPGA_STATUS = 1,
    FPGA_REG_INT_MASK = 2,
    FPGA_REG_INT_SRC = 3,
    kFpgaRegCount = 8,        // 0, or bit 7 with the count minus one below it
    FPGA_REG_EXT_IN = 9,
    kFpgaRegPairByte = 10,    // whole byte of the flag pair with register 11
    kFpgaRegPairFlags = 11,   // flag bits 0 to 5 of that pair
    kFpgaRegExtOutByte = 12,  // whole byte that goes with FPGA_REG_EXT_OUT
    FPGA_REG_EXT_OUT = 13,
    FPGA_REG_DCDC_CTRL = 18,
    FPGA_REG_CLK_DIV = 19,
    FPGA_REG_ADC_CTRL = 20,
    FPGA_REG_ADC_ENL = 22,
    FPGA_REG_ADC_ENH = 23,
    FPGA_REG_KEYB_IN = 26,
    FPGA_REG_KEYB_OUT = 27,
    kFpgaRegFlagBits = 28,    // three single-bit flags, bits 0 to 2
    FPGA_REG_FPGA_VER = 29,
    FPGA_REG_TEST_RD = 30,
    FPGA_REG_TEST_WR = 31,
};

// What FPGA_REG_TEST_RD reads once the FPGA runs.
constexpr uint8_t kFpgaSignature = 0x95;

// --- Register transfer: the command byte is the operation plus the index.
constexpr uint8_t kFpgaWriteCommand = 0x80;
constexpr uint8_t kFpgaReadCommand = 0x40;
constexpr uint8_t kFpgaCommandMask = 0xE0;  // the operation bits
constexpr uint8_t kFpgaIndexMask = 0x1F;    // the register index

// --- The configuration node (the loader's handshake and the GPIO lines).
// Request codes: _IOR('k', nr, 4) for the inputs, _IOW('k', nr, 4) for the
// outputs and the pin requests. A line's argument is one byte whatever the
// size field says.
constexpr unsigned long FpgaConfigReadRequest(unsigned nr) { return 0x80046B00UL + nr; }
constexpr unsigned long FpgaConfigWriteRequest(unsigned nr) { return 0x40046B00UL + nr; }

// Request numbers.
enum FpgaConfigLine : unsigned {
    // The loader's handshake: two inputs (read requests), four outputs.
    kFpgaConfigStatusInput = 5,
    kFpgaConfigDoneInput = 6,
    kFpgaConfigOutput7 = 7,
    kFpgaConfigOutput8 = 8,
    kFpgaConfigOutput9 = 9,
    kFpgaConfigOutput10 = 10,
    // The pin requests, with a 6-byte pin record.
    kGpioPreparePin = 17,
    kGpioGetPin = 19,
    // Switch lines, one byte each. The loader ends with kGpioRs485Sel too.
    kGpioRs485Sel = 20,
    kGpioExtIoEn = 21,
    kGpioWlanReset = 23,
    kGpioAuxLine24 = 24,
    kGpioGprsEn = 25,
    kGpioAuxLine26 = 26,
    kGpioAuxLine27 = 27,
    kGpioAuxLine28 = 28,
    kGpioAuxLine29 = 29,
    kGpioAuxLine30 = 30,
    kGpioRelayEn = 31,
};

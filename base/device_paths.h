// Where the instrument's device nodes and sysfs files are. Every part of the
// tree that names one of them, the emulation in sim/ included, takes it from
// here.
#pragma once

// The SPI bus to the transmitter board.
constexpr const char* kSpidevPath = "/dev/spidev0.1";
// The FPGA configuration node; it also carries the GPIO requests, among them
// the transmitter's ready line.
constexpr const char* kGpioDevicePath = "/dev/fpga_config.0";
// The FPGA register file. The register access takes its path from whoever
// creates it; this is where the instrument has it.
constexpr const char* kFpgaRegisterPath = "/dev/spidev1.0";
// The platform GPIO directory; a pin's value file is <root>/<pin>/value.
constexpr const char* GpioSysfsRoot = "/sys/devices/platform/skarvik-gpio";

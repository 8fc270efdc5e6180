// An emulated set of device nodes: a umockdev testbed with, each optional,
// the spidev node answered by a TxBoardModel, the FPGA configuration node
// answered by a GpioDeviceModel, the FPGA register node answered by an
// FpgaRegisterModel, and the sysfs GPIO tree.
//
// The process that opens the nodes must run with the umockdev preload
// library (LD_PRELOAD=libumockdev-preload.so.0); a child process started
// after the testbed exists inherits its environment. A node that was not
// added is really missing: opening it fails with ENOENT.
#pragma once

#include <memory>
#include <string>

#include "device_paths.h"
#include "fpga_reg_model.h"
#include "gpio_model.h"
#include "tx_board_model.h"

namespace sim {

using ::kGpioDevicePath;
using ::kSpidevPath;
using ::kFpgaRegisterPath;

// The whole content of a file; empty when it cannot be read.
std::string ReadFile(const std::string& path);

// Ioctls the emulated nodes have answered, counted per kind, in this process.
struct IoctlCounts {
    long spiTransfers = 0;  // SPI_IOC_MESSAGE
    long spiSetup = 0;      // the mode, word-size and clock requests
    long gpio = 0;          // every request of the FPGA configuration node
};

class Testbed {
public:
    Testbed();
    ~Testbed();
    Testbed(const Testbed&) = delete;
    Testbed& operator=(const Testbed&) = delete;

    // Whether this process runs under the umockdev preload library.
    static bool InMockEnvironment();

    // Adds /dev/spidev0.1 answered by `board` (which must outlive the testbed).
    // False, with LastError() set, when umockdev refuses the node.
    bool AddSpidev(TxBoardModel& board);
    // Adds /dev/fpga_config.0 answered by `gpio` (which must outlive the
    // testbed), for its requests and for the bitstream written to it.
    // False, with LastError() set, when umockdev refuses the node.
    bool AddGpioDevice(GpioDeviceModel& gpio);
    // Adds kFpgaRegisterPath answered by `fpga` (which must outlive the
    // testbed). False, with LastError() set, when umockdev refuses the node.
    bool AddFpgaRegisterDevice(FpgaRegisterModel& fpga);
    // Creates the sysfs GPIO directory below the testbed's root; false when
    // the directory cannot be made.
    bool AddSysfsRoot();
    // Writes `text` to the value file of pin `name` below the sysfs root,
    // creating the pin's directory. False when the file cannot be written.
    bool SetSysfsPin(const std::string& name, const std::string& text);
    // Reads back the value file of pin `name`; empty when it is missing.
    std::string SysfsPin(const std::string& name) const;
    // Removes the value file of pin `name`.
    void RemoveSysfsPin(const std::string& name);

    // Every ioctl answered so far by the nodes of any testbed of this process.
    static IoctlCounts HandledIoctls();

    // The directory that stands in for "/" for /sys paths.
    std::string RootDir() const;
    // What went wrong in the last call that returned false; empty otherwise.
    std::string LastError() const;

private:
    struct Impl;
    std::unique_ptr<Impl> impl;
};

}  // namespace sim

// The FPGA's bitstream loader: a named device ("FPGA") whose Configure
// streams the bitstream (RBF) file into the FPGA configuration device
// through its request handshake.
#pragma once

#include <wx/thread.h>

#include "clock.h"
#include "device.h"
#include "config_node.h"

// Where the bitstream file is named, and the file used when it is not.
constexpr const char* kFpgaRbfPathKey = "/FPGA/rbfFilePath";
constexpr const char* kFpgaDefaultRbfPath = "/usr/share/skarvik/data/fpga_s2.rbf";

// Results of downloadBitstream besides 0 and a failed request's own result.
constexpr int kFpgaStatusAfterReset = -101;     // status set right after output 8 went 0
constexpr int kFpgaDoneBeforeData = -102;       // done set before any data
constexpr int kFpgaStatusNeverSet = -103;       // status still 0 after output 8 went 1
constexpr int kFpgaDoneNeverSet = -104;         // done still 0 after the last chunk
constexpr int kFpgaWriteFailed = -105;          // a chunk could not be written
constexpr int kFpgaStatusDropped = -106;        // status 0 after a chunk
constexpr int kFpgaNoBuffer = -107;             // transfer buffer not allocated

class FPGA : private Device {
public:
    // Enters the registry as "FPGA"; not configured yet.
    FPGA();
    ~FPGA() override;

    // Loads the bitstream into the FPGA through `devicePath`. With a null
    // `rbfPath` the file is the one configured under kFpgaRbfPathKey (the
    // default path when there is no entry or no configuration at all); a
    // given path is opened and printed as the bytes it is.
    // Reports on standard error. Returns 0 on success, -1 when the device
    // or the file cannot be opened, the negative result of downloadBitstream
    // when the load fails, or the negative result of the closing request 20.
    // Opens and closes both descriptors within the call.
    int Configure(const char* devicePath, const char* rbfPath);

    // Sends Configure's device requests and data through `driver` (the
    // system calls until then). `driver` must outlive its use here.
    void SetDriver(DeviceDriver& driver) { driverInUse = &driver; }
    // Waits on `clock` from now on (the system's until then). `clock` must
    // outlive its use here.
    void SetClock(Clock& clock) { clockInUse = &clock; }

    // Whether some Configure call has succeeded.
    bool IsConfigured() const { return configured; }

    // The handshake and data phase on the open configuration node and the
    // open bitstream descriptor, which both stay open. The bitstream reaches
    // the device whole and in order, or the result is negative: 0 when the
    // FPGA reports done, a negative request result, or one of the kFpga...
    // codes. The closing sequence runs in every case. The pauses are waited
    // on `clock`.
    static int downloadBitstream(ConfigNode& node, int rbfFd, Clock& clock = Clock::System());

private:
    // Serialises the read of the process-wide configuration object.
    static wxMutex configLock;

    bool configured = false;
    DeviceDriver* driverInUse = &DeviceDriver::System();
    Clock* clockInUse = &Clock::System();
};

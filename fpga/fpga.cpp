#include "fpga.h"

#include <fcntl.h>
#include <unistd.h>
#include <wx/app.h>
#include <wx/config.h>

#include <cerrno>
#include <cstdio>
#include <memory>
#include <new>

#include "clock.h"
#include "unique_fd.h"

namespace {

constexpr size_t kChunkSize = 1024;
constexpr int kMaxPolls = 6;

// The configured bitstream path, read under configLock by the caller.
wxString ConfiguredRbfPath() {
    // Without an application object wxConfigBase cannot make its default
    // object (Get() asserts and gives null); a program that set one of its
    // own still gets it.
    wxConfigBase* config = wxConfigBase::Get(wxTheApp != nullptr);
    if (config == nullptr) return kFpgaDefaultRbfPath;
    return config->Read(kFpgaRbfPathKey, kFpgaDefaultRbfPath);
}

// Reads `input` after each sleep of 10 us until it is non-zero, at most
// kMaxPolls times. 1 when it came (`*result` holds that read's result), 0
// when it did not, the negative request result when a read failed.
int PollInput(ConfigNode& port, unsigned input, int* result, Clock& clock) {
    uint8_t level = 0;
    for (int reads = 1;; ++reads) {
        clock.Sleep(10000);
        level = 0;
        *result = port.Read(input, &level);
        if (*result < 0) return *result;
        if (level != 0) return 1;
        if (reads == kMaxPolls) return 0;
    }
}

// Steps 2 to 10 of the load; the caller runs the closing sequence.
int RunHandshakeAndData(ConfigNode& port, int rbfFd, uint8_t* buffer, Clock& clock) {
    int result = 0;
    uint8_t level = 0;

    port.Drive(kFpgaConfigOutput7, 0);  // the first one may fail, the second may not
    if ((result = port.Drive(kFpgaConfigOutput7, 0)) < 0) return result;
    if ((result = port.Drive(kFpgaConfigOutput8, 0)) < 0) return result;

    clock.Sleep(50000);  // output 8 low settles
    if ((result = port.Read(kFpgaConfigStatusInput, &level)) < 0) return result;
    if (level != 0) return kFpgaStatusAfterReset;
    level = 0;
    if ((result = port.Read(kFpgaConfigDoneInput, &level)) < 0) return result;
    if (level != 0) return kFpgaDoneBeforeData;

    if ((result = port.Drive(kFpgaConfigOutput8, 1)) < 0) return result;
    int polled = PollInput(port, kFpgaConfigStatusInput, &result, clock);
    if (polled < 0) return polled;
    if (polled == 0) return kFpgaStatusNeverSet;
    clock.Sleep(50000);  // before the first chunk

    for (;;) {
        ssize_t count;
        do {
            count = ::read(rbfFd, buffer, kChunkSize);
        } while (count < 0 && errno == EINTR);
        if (count <= 0) break;  // end of file, or a file that cannot be read
        if (!port.WriteAll(buffer, static_cast<size_t>(count))) return kFpgaWriteFailed;
        level = 0;
        if ((result = port.Read(kFpgaConfigStatusInput, &level)) < 0) return result;
        if (level == 0) return kFpgaStatusDropped;
    }

    polled = PollInput(port, kFpgaConfigDoneInput, &result, clock);
    if (polled < 0) return polled;
    if (polled == 0) return kFpgaDoneNeverSet;
    return result;
}

}  // namespace

wxMutex FPGA::configLock;

FPGA::FPGA() : Device(L"FPGA", 0) {}

FPGA::~FPGA() = default;

int FPGA::downloadBitstream(ConfigNode& port, int rbfFd, Clock& clock) {
    int result = kFpgaNoBuffer;
    {
        std::unique_ptr<uint8_t[]> buffer(new (std::nothrow) uint8_t[kChunkSize]);
        if (buffer) result = RunHandshakeAndData(port, rbfFd, buffer.get(), clock);
    }
    // Whatever happened, leave the lines in their resting state.
    port.Drive(kFpgaConfigOutput8, 1);
    port.Drive(kFpgaConfigOutput7, 0);  // resting low
    port.Drive(kFpgaConfigOutput10, 0);
    port.Drive(kFpgaConfigOutput9, 0);
    return result;
}

int FPGA::Configure(const char* devicePath, const char* rbfPath) {
    // A given path is used as the bytes it is; only a configured name, which
    // is text, is converted for the C library.
    wxString fileName;
    if (rbfPath == nullptr) {
        const bool locked = configLock.Lock() == wxMUTEX_NO_ERROR;
        fileName = ConfiguredRbfPath();
        if (locked) configLock.Unlock();
    } else {
        fprintf(stderr, "FPGA: Use RBF file: %s\n", rbfPath);
    }

    ConfigNode device;
    if (!device.Open(devicePath, *driverInUse)) {
        fprintf(stderr, "***** FPGA::Configure: Open %s failed!\n", devicePath);
        return -1;
    }
    wxCharBuffer configuredName;
    const char* nameText = rbfPath;
    if (rbfPath == nullptr) {
        configuredName = fileName.mb_str();
        nameText = configuredName.data() != nullptr ? configuredName.data() : "";
    }
    UniqueFd rbf(::open(nameText, O_RDONLY | O_CLOEXEC));
    if (!rbf.Valid()) {
        fprintf(stderr, "*****FPGA: Can't open RBF file %s\n", nameText);
        return -1;  // the device closes itself
    }

    const int result = downloadBitstream(device, rbf.Get(), *clockInUse);
    if (result < 0) {
        fprintf(stderr, "******FPGA config failed. Error code = %d\n", result);
    } else {
        fputs("FPGA configuration success!\n", stderr);
        configured = true;
    }
    const int closing = device.Drive(kGpioRs485Sel, 1);
    return result < 0 ? result : closing;
}

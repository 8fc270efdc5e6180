// txdiag commands for the FPGA, its registers and the device registry.
//
// The register commands start the register access as the instrument does
// (bitstream load, then the register device), run Init, then their own
// step. With --timing, each step's time is reported as a lap table.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>

#include <wx/app.h>

#include "device.h"
#include "diag_command.h"
#include "fpga.h"
#include "fpga_reg.h"
#include "lap_timer.h"

namespace diag {

namespace {

// The bitstream argument: null lets the loader take the configured file,
// from txdiag's configuration (~/.txdiag, key /FPGA/rbfFilePath).
const char* RbfArgument(const std::vector<std::string>& args) {
    if (!args.empty()) return args[0].c_str();
    // txdiag has set wxWidgets up; the configuration file's name follows the
    // application name.
    if (wxTheApp != nullptr) wxTheApp->SetAppName("txdiag");
    return nullptr;
}

// A lap per step, reported where --timing says.
class StepTimes {
public:
    explicit StepTimes(const Options& options) : destination_(options.timing) { laps_.Start(); }
    void StepDone() { laps_.Mark(); }

    // Reports the laps (if asked for) and passes `status` on; a report file
    // that cannot be opened turns it into kExitFailed.
    int Finish(int status) {
        if (destination_.empty()) return status;
        if (destination_ == "-") {
            laps_.printLaps();
            return status;
        }
        FILE* out = fopen(destination_.c_str(), "a");
        if (out == nullptr) {
            fprintf(stderr, "txdiag: cannot open %s: %s\n", destination_.c_str(), strerror(errno));
            return kExitFailed;
        }
        laps_.printLaps(out);
        fclose(out);
        return status;
    }

private:
    std::string destination_;
    LapTimer laps_;
};

// Steps 1 and 2 of every register command: start-up and Init. Null when
// the register device could not be opened (the reason is printed).
std::unique_ptr<FPGAReg> StartRegisters(const Options& options,
                                        const std::vector<std::string>& args,
                                        StepTimes& times) {
    auto reg = std::make_unique<FPGAReg>(options.fpgaDevice.c_str(), RbfArgument(args));
    times.StepDone();
    if (!reg->IsOpen()) return nullptr;
    reg->Init(false);
    times.StepDone();
    return reg;
}

int Load(const Options& options, const std::vector<std::string>& args) {
    StepTimes times(options);
    FPGA fpga;
    const int result = fpga.Configure(kFpgaConfigDevice, RbfArgument(args));
    times.StepDone();
    return times.Finish(result == 0 ? kExitOk : kExitFailed);
}

int Registers(const Options& options, const std::vector<std::string>& args) {
    StepTimes times(options);
    auto reg = StartRegisters(options, args, times);
    if (!reg) return times.Finish(kExitFailed);
    reg->DumpRegs();
    times.StepDone();
    return times.Finish(kExitOk);
}

int SelfTest(const Options& options, const std::vector<std::string>& args) {
    StepTimes times(options);
    auto reg = StartRegisters(options, args, times);
    if (!reg) return times.Finish(kExitFailed);
    const int mismatches = reg->TestRegs();
    times.StepDone();
    printf("register self-test: %d mismatches\n", mismatches);
    return times.Finish(mismatches == 0 ? kExitOk : kExitFailed);
}

int Version(const Options& options, const std::vector<std::string>& args) {
    StepTimes times(options);
    auto reg = StartRegisters(options, args, times);
    if (!reg) return times.Finish(kExitFailed);
    const int version = reg->GetFirmwareVersion();
    times.StepDone();
    printf("firmware version: %d (0x%02x)\n", version, version);
    return times.Finish(kExitOk);
}

int Keys(const Options& options, const std::vector<std::string>& args) {
    StepTimes times(options);
    auto reg = StartRegisters(options, args, times);
    if (!reg) return times.Finish(kExitFailed);
    uint8_t inputs = 0, outputs = 0;
    reg->ScanKeyboard(&inputs, &outputs);
    times.StepDone();
    if (inputs == 0 && outputs == 0) {
        printf("keys: none pressed\n");
    } else {
        printf("keys: input lines 0x%02x, output lines 0x%02x\n", inputs, outputs);
    }
    return times.Finish(kExitOk);
}

int Devices(const Options& options, const std::vector<std::string>&) {
    StepTimes times(options);
    Device::ListDevices();
    printf("\n");  // the listing leaves its last line open
    times.StepDone();
    return times.Finish(kExitOk);
}

const Command kCommands[] = {
    {"fpga-load", "[RBF]", "load the FPGA bitstream (the configured file, or RBF)", 0, 1, Load},
    {"fpga-regs", "[RBF]", "start the registers and dump them", 0, 1, Registers},
    {"fpga-test", "[RBF]", "start the registers and run their self-test", 0, 1, SelfTest},
    {"fpga-version", "[RBF]", "start the registers and show the firmware version", 0, 1,
     Version},
    {"fpga-keys", "[RBF]", "start the registers and scan the keys once", 0, 1, Keys},
    {"devices", "", "list the registered devices", 0, 0, Devices},
};

}  // namespace

std::span<const Command> FpgaCommands() { return kCommands; }

}  // namespace diag

// txdiag commands for the FPGA and its registers.
//
// The register commands start the register access as the instrument does
// (bitstream load, then the register device), run Init, make sure the FPGA
// runs (its signature in register 30), then do their own step. Every result
// the library hands back is looked at: a failed load, a register that cannot
// be read or an FPGA without its signature fails the command before anything
// is shown as a reading.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <memory>

#include <wx/app.h>
#include <wx/config.h>

#include "diag_command.h"
#include "fpga.h"
#include "fpga_reg.h"

namespace diag {

namespace {

// The configuration file's name follows the application name: txdiag reads
// ~/.txdiag, as the loader does once this is set.
void UseTxdiagConfiguration() {
    if (wxTheApp != nullptr) wxTheApp->SetAppName("txdiag");
}

// The bitstream argument: null lets the loader take the configured file.
const char* RbfArgument(const std::vector<std::string>& args) {
    if (!args.empty()) return args[0].c_str();
    UseTxdiagConfiguration();
    return nullptr;
}

// The file the loader will read: the argument, or the configured one.
std::string RbfPath(const std::vector<std::string>& args) {
    if (!args.empty()) return args[0];
    UseTxdiagConfiguration();
    wxConfigBase* config = wxConfigBase::Get(wxTheApp != nullptr);
    if (config == nullptr) return kFpgaDefaultRbfPath;
    const wxString name = config->Read(kFpgaRbfPathKey, kFpgaDefaultRbfPath);
    return std::string(name.utf8_str().data());
}

// A bitstream must be a readable regular file with data in it: a device
// such as /dev/zero would be streamed for ever, a directory or an empty file
// would fail deep in the handshake with a code that misleads.
int CheckBitstream(const std::vector<std::string>& args) {
    const std::string path = RbfPath(args);
    std::string why;
    struct stat info {};
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) {
        why = strerror(errno);
    } else if (fstat(fd, &info) != 0) {
        why = strerror(errno);
    } else if (!S_ISREG(info.st_mode)) {
        why = "not a regular file";
    } else if (info.st_size == 0) {
        why = "empty file";
    }
    if (fd >= 0) close(fd);
    if (why.empty()) return kExitOk;
    fprintf(stderr, "txdiag: bitstream %s: %s\n", path.c_str(), why.c_str());
    return kExitUsage;
}

std::string Code(int result) { return "error code " + std::to_string(result); }

// Start-up, Init and the signature check of every register command. Null
// after Report::Fail when any of them failed.
std::unique_ptr<FPGAReg> StartRegisters(Invocation& call) {
    Report& report = call.report;
    const std::string& device = call.options.fpgaDevice;
    if (const std::string why = ProbeSpiNode(device); !why.empty()) {
        report.Fail("cannot use " + device + ": " + why);
        return nullptr;
    }
    auto reg = std::make_unique<FPGAReg>(device.c_str(), RbfArgument(call.args));
    report.Step("start-up");
    if (reg->LoadResult() != 0) {
        report.Fail("bitstream load failed (" + Code(reg->LoadResult()) + ")");
        return nullptr;
    }
    if (!reg->IsOpen()) {
        report.Fail("cannot open " + device);
        return nullptr;
    }
    reg->Init(false);
    report.Step("init");
    uint8_t signature = 0;
    if (reg->ReadReg(FPGA_REG_TEST_RD, &signature) < 0) {
        report.Fail("register 30 (signature) cannot be read");
        return nullptr;
    }
    if (signature != kFpgaSignature) {
        char why[80];
        snprintf(why, sizeof why, "the FPGA does not run: register 30 reads 0x%02x, not 0x%02x",
                 signature, kFpgaSignature);
        report.Fail(why);
        return nullptr;
    }
    return reg;
}

int Load(Invocation& call) {
    FPGA fpga;
    const int result = fpga.Configure(kFpgaConfigDevice, RbfArgument(call.args));
    call.report.Step("load");
    call.report.Values().Key("load_result").Int(result);
    if (result != 0) return call.report.Fail("bitstream load failed (" + Code(result) + ")");
    call.report.Line("bitstream loaded");
    return kExitOk;
}

int Registers(Invocation& call) {
    auto reg = StartRegisters(call);
    if (!reg) return kExitFailed;
    // Init does not say whether its read of the registers went through: read
    // them again, and show them only when every read did.
    const int result = reg->ReadAllRegs();
    call.report.Step("read");
    if (result < 0) return call.report.Fail("reading the registers failed (" + Code(result) + ")");
    reg->DumpRegs();
    call.report.Step("dump");
    call.report.Values().Key("registers").BeginArray();
    for (uint8_t value : reg->ShadowCopy()) call.report.Values().UInt(value);
    call.report.Values().EndArray();
    return kExitOk;
}

int SelfTest(Invocation& call) {
    auto reg = StartRegisters(call);
    if (!reg) return kExitFailed;
    const int mismatches = reg->TestRegs();
    call.report.Step("self-test");
    call.report.Line("register self-test: %d mismatches", mismatches);
    call.report.Values().Key("mismatches").Int(mismatches);
    if (mismatches != 0) return call.report.Fail(std::to_string(mismatches) + " mismatches");
    return kExitOk;
}

int Version(Invocation& call) {
    auto reg = StartRegisters(call);
    if (!reg) return kExitFailed;
    uint8_t version = 0;
    const int result = reg->ReadReg(FPGA_REG_FPGA_VER, &version);
    call.report.Step("version");
    if (result < 0) return call.report.Fail("register 29 (version) cannot be read");
    call.report.Line("firmware version: %d (0x%02x)", version, version);
    call.report.Values().Key("firmware_version").UInt(version);
    return kExitOk;
}

int Keys(Invocation& call) {
    auto reg = StartRegisters(call);
    if (!reg) return kExitFailed;
    uint8_t inputs = 0;
    uint8_t outputs = 0;
    reg->ScanKeyboard(&inputs, &outputs);
    // The scan takes what its reads bring: a read of the key inputs that
    // fails shows as keys held. Trust the scan only if the inputs read.
    uint8_t check = 0;
    const int result = reg->ReadKeybIn(&check);
    call.report.Step("scan");
    if (result < 0) return call.report.Fail("register 26 (key inputs) cannot be read");
    if (inputs == 0 && outputs == 0) {
        call.report.Line("keys: none pressed");
    } else {
        call.report.Line("keys: input lines 0x%02x, output lines 0x%02x", inputs, outputs);
    }
    call.report.Values()
        .Key("keys").BeginObject()
        .Key("pressed").Bool(inputs != 0 || outputs != 0)
        .Key("input_lines").UInt(inputs)
        .Key("output_lines").UInt(outputs)
        .EndObject();
    return kExitOk;
}

const Command kCommands[] = {
    {"fpga-load", "[RBF]", "load the FPGA bitstream (the configured file, or RBF)", 0, 1, true,
     CheckBitstream, Load},
    {"fpga-regs", "[RBF]", "start the registers and dump them", 0, 1, false, CheckBitstream,
     Registers},
    {"fpga-test", "[RBF]", "start the registers and run their self-test", 0, 1, false,
     CheckBitstream, SelfTest},
    {"fpga-version", "[RBF]", "start the registers and show the firmware version", 0, 1, false,
     CheckBitstream, Version},
    {"fpga-keys", "[RBF]", "start the registers and scan the keys once", 0, 1, false,
     CheckBitstream, Keys},
};

}  // namespace

std::span<const Command> FpgaCommands() { return kCommands; }

}  // namespace diag

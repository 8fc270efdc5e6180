// txsim: runs a command against an emulated transmitter board.
//
//   txsim [options] -- COMMAND [ARGS...]
//
// Creates a umockdev testbed with /dev/spidev0.1 answered by TxBoardModel,
// /dev/fpga_config.0 answered by GpioDeviceModel (ready line and FPGA
// configuration) and /dev/spidev1.0 answered by FpgaRegisterModel, starts
// COMMAND under the umockdev preload library and exits with its status. stdout belongs to the
// command; txsim's own messages go to stderr. The options are read in
// txsim_options.cpp, the command is run and watched in child_process.cpp.
#include <signal.h>
#include <stdlib.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

#include "child_process.h"
#include "cli.h"
#include "fpga_reg_model.h"
#include "frame_log.h"
#include "gpio_model.h"
#include "monotonic_time.h"
#include "testbed.h"
#include "tx_board_model.h"
#include "txsim_options.h"

namespace {

constexpr int kExitUsage = 2;

void Complain(const std::string& message) {
    std::fprintf(stderr, "txsim: %s\n", message.c_str());
}

void ApplyFpgaOptions(const sim::FpgaOptions& fpga, sim::GpioDeviceModel& config,
                      sim::FpgaRegisterModel& registers) {
    config.LimitWrite(fpga.partialWrites);
    if (fpga.noDone) config.ScriptDone(std::vector<uint8_t>(1 + 6, 0));
    registers.SignatureFromRead(fpga.noSignature ? 0 : 1);
    registers.SetRegister(29, fpga.version);
    if (fpga.failRegister >= 0) registers.FailRegister(static_cast<uint8_t>(fpga.failRegister));
    for (const auto& [out, in] : fpga.keys) registers.PressKey(out, in);
}

// Why the testbed cannot make its temporary root, or empty when it can.
// umockdev does not say so itself: it stops the program with a trap.
std::string TemporaryDirectoryProblem() {
    const char* tmp = std::getenv("TMPDIR");
    std::string dir = tmp != nullptr && *tmp != '\0' ? tmp : "/tmp";
    std::string probe = dir + "/txsim.XXXXXX";
    if (mkdtemp(probe.data()) == nullptr) {
        return "cannot create a directory in " + dir + " (TMPDIR): " + std::strerror(errno);
    }
    rmdir(probe.c_str());
    return {};
}

int Finish(int status) {
    if (!cli::CloseStandardOutput("txsim") && status == 0) return sim::kExitSetup;
    return status;
}

}  // namespace

int main(int argc, char** argv) {
    // Before any node exists: a closed standard stream must not hand its
    // number to one.
    if (!cli::KeepStandardStreams()) return sim::kExitSetup;
    const timespec start = MonotonicNow();

    sim::TxsimOptions options;
    switch (sim::ParseTxsimOptions(argc, argv, options)) {
    case sim::Parse::Help:
        std::fputs(sim::kTxsimUsage, stdout);
        return Finish(0);
    case sim::Parse::Version:
        cli::PrintVersion("txsim");
        return Finish(0);
    case sim::Parse::Error:
        return kExitUsage;
    case sim::Parse::Run:
        break;
    }
    if (const std::string problem = TemporaryDirectoryProblem(); !problem.empty()) {
        Complain(problem);
        return sim::kExitSetup;
    }

    // Before any thread exists (the testbed starts umockdev's worker): the
    // environment the command inherits, and the signal mask every thread
    // inherits. An inherited SIG_IGN for SIGCHLD would make waitpid fail.
    sim::SetPreload();
    signal(SIGCHLD, SIG_DFL);
    sigset_t handled;
    sigemptyset(&handled);
    for (int sig : {SIGCHLD, SIGTERM, SIGHUP, SIGINT, SIGQUIT}) sigaddset(&handled, sig);
    sigset_t originalMask;
    sigprocmask(SIG_BLOCK, &handled, &originalMask);

    sim::FrameLog log(start);
    if (!options.logPath.empty() && !log.Open(options.logPath)) {
        Complain("cannot open log " + options.logPath + ": " + std::strerror(errno));
        return sim::kExitSetup;
    }

    // The models outlive the testbed that serves them.
    sim::TxBoardModel board(options.board);
    sim::GpioDeviceModel gpio;
    sim::FpgaRegisterModel fpgaRegisters;
    ApplyFpgaOptions(options.fpga, gpio, fpgaRegisters);
    switch (options.ready) {
    case sim::Ready::Yes: gpio.SetLevel(0); break;
    case sim::Ready::No: gpio.NeverReady(); break;
    case sim::Ready::Script: gpio.ScriptLevels(options.readyScript); break;
    }
    if (!options.logPath.empty()) {
        board.SetObserver([&log](const sim::BusRecord& r) { log.Write(r, MonotonicNow()); });
    }

    sim::Testbed testbed;
    sim::RemoveWhenGone(testbed.RootDir());
    if (options.spidev && !testbed.AddSpidev(board)) {
        Complain(testbed.LastError());
        return sim::kExitSetup;
    }
    if (options.gpio && !testbed.AddGpioDevice(gpio)) {
        Complain(testbed.LastError());
        return sim::kExitSetup;
    }
    if (options.fpga.registers && !testbed.AddFpgaRegisterDevice(fpgaRegisters)) {
        Complain(testbed.LastError());
        return sim::kExitSetup;
    }
    if (!options.gpio) {
        bool ok = testbed.AddSysfsRoot();
        if (ok && options.sysfsReady) {
            ok = testbed.SetSysfsPin("spi0_int", options.ready == sim::Ready::No ? "0\n" : "1\n");
        }
        if (!ok) {
            Complain(testbed.LastError());
            return sim::kExitSetup;
        }
    }

    return sim::RunCommand(options.command, handled, originalMask);
}

// txdiag end to end under txsim: exit status and both standard streams.
#include <sstream>

#include "test_support.h"

namespace {

const std::string kSpeed = "TXspi speed=800000\n";

// `txsim SIM -- txdiag ARGS` (SIM and ARGS: words separated by blanks); `err` is a part of
// standard error.
TEST(TxdiagTest, CommandsUnderTxsim) {
    const struct { std::string sim, args; int status; std::string out, err; } cases[] = {
        {"", "info", 0, kSpeed + "software number 1020, fast timing\n", "SNR:    TX0412-0077\n"},
        {"--fault-word 0x01000020", "status", 0,
         kSpeed + "TX status 0x1000020: Not regulating, Working point valid\n", "fault_flags="},
        {"--fault-word 0x00010001 --protocol-version 4", "faults", 0,
         kSpeed + "TX status 0x10001: No contact? This load is out of range for this "
                  "transmitter., Tx is off\n",
         "TxSpi: Detected protocol version 4\n"},
        {"--ready-word 0 --fault-word 0x10000000", "ready", 0,
         kSpeed + "not ready, fault word 0x10000000\n", ""},
        {"--protocol-version 4", "snapshot 2", 0,
         kSpeed + "no snapshots under protocol version 4\n", ""},
        {"--mode-change 3", "standby", 0, kSpeed + "standby acknowledged\n", ""},
        {"--fail-ack M_STANDBY", "standby", 1, kSpeed,
         "txdiag: standby: not acknowledged (error flags 2)\n"},
        {"--no-spidev", "status", 1, "",
         "******* Error: TxSpi can't open device /dev/spidev0.1\n"
         "txdiag: status: cannot open /dev/spidev0.1\n"},
        {"--silent-from 1", "faults", 1, kSpeed,
         "txdiag: faults: the transmitter does not answer\n"},
        {"", "bogus", 2, "", "txdiag: unknown command 'bogus'\nUsage: "},
        {"", "snapshot 1x", 2, "",
         "snapshot: bad record id '1x': give a whole number from -2147483648 to 2147483647\n"},
        {"", "snapshot 2147483648", 2, "", "bad record id '2147483648'"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.sim + " / " + c.args);
        std::vector<std::string> argv = {SIM_TXSIM};
        std::istringstream words(c.sim + " -- " TXDIAG_PATH " " + c.args);
        for (std::string word; words >> word;) argv.push_back(word);
        const ProgramRun run = RunProgram(argv);
        EXPECT_EQ(std::tie(run.status, run.out), std::tie(c.status, c.out));
        EXPECT_NE(run.err.find(c.err), std::string::npos) << run.err;
    }
}

}  // namespace

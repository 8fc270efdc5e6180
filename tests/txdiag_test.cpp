// txdiag end to end under txsim: exit status and both standard streams.
#include <nlohmann/json.hpp>

#include <sstream>

#include "test_support.h"

namespace {

const std::string kSpeed = "TXspi speed=800000\n";

// `txsim SIM -- txdiag ARGS` (SIM and ARGS: words separated by blanks).
ProgramRun Txdiag(const std::string& sim, const std::string& args) {
    std::vector<std::string> argv = {SIM_TXSIM};
    std::istringstream words(sim + " -- " TXDIAG_PATH " " + args);
    for (std::string word; words >> word;) argv.push_back(word);
    return RunProgram(argv);
}

// `err` is a part of standard error.
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
        {"--mode-change 3", "-y standby", 0, kSpeed + "standby acknowledged\n", ""},
        // A state change without a terminal and without -y is refused.
        {"", "standby", 2, "", "txdiag: standby changes the instrument's state: give -y"},
        {"--fail-ack M_STANDBY", "standby --yes", 1, kSpeed,
         "txdiag: standby: not acknowledged (error flags 2)\n"},
        {"--no-spidev", "status", 1, "", ""
         "txdiag: status: cannot use /dev/spidev0.1: No such file or directory\n"},
        {"--silent-from 1", "faults", 1, kSpeed,
         "txdiag: faults: the transmitter does not answer\n"},
        {"", "bogus", 2, "", "txdiag: unknown command 'bogus'\nTry 'txdiag --help'"},
        // Options anywhere, with = or apart, and -- before arguments that look like options.
        {"--no-spidev", "info --device=/dev/spidev0.1", 1, "", "cannot use /dev/spidev0.1"},
        {"", "info -d /dev/nonexistent", 1, "",
         "txdiag: info: cannot use /dev/nonexistent: No such file or directory\n"},
        {"", "info --device", 2, "", "txdiag: option '--device' needs a value\n"},
        {"", "--bogus info", 2, "", "txdiag: unknown option '--bogus'\n"},
        {"--protocol-version 4", "snapshot -- -3", 0,
         kSpeed + "no snapshots under protocol version 4\n", ""},
        {"", "--version", 0, "txdiag " SKARVIK_TEST_VERSION "\n", ""},
        {"", "snapshot 1x", 2, "",
         "snapshot: bad record id '1x': give a whole number from -2147483648 to 2147483647\n"},
        {"", "snapshot 2147483648", 2, "", "bad record id '2147483648'"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.sim + " / " + c.args);
        const ProgramRun run = Txdiag(c.sim, c.args);
        EXPECT_EQ(std::tie(run.status, run.out), std::tie(c.status, c.out));
        EXPECT_NE(run.err.find(c.err), std::string::npos) << run.err;
    }
}

// The result object is the last line of standard output; the library's own
// lines come before it.
nlohmann::json JsonResult(const std::string& sim, const std::string& args, int status) {
    const ProgramRun run = Txdiag(sim, "--json " + args);
    EXPECT_EQ(run.status, status) << run.err;
    const size_t last = run.out.rfind('\n', run.out.size() - 2);
    return nlohmann::json::parse(run.out.substr(last == std::string::npos ? 0 : last + 1));
}

TEST(TxdiagJson, AResultIsOneObjectWithTheIdentityAndTheDecodedValues) {
    const nlohmann::json faults = JsonResult("--fault-word 0x01000020 --product \xC3\x9C", "faults", 0);
    EXPECT_EQ(faults["command"], "faults");
    EXPECT_EQ(faults["ok"], true);
    EXPECT_EQ(faults["identity"]["product"], "\xC3\x9C");
    EXPECT_EQ(faults["identity"]["software_number"], 1020);
    EXPECT_EQ(faults["fault_word"]["value"], 0x01000020);
    EXPECT_EQ(faults["fault_word"]["bits"][0]["name"], "Not regulating");
    EXPECT_EQ(faults["fault_word"]["bits"][1]["name"], "Working point valid");
    EXPECT_EQ(faults["steps"].size(), 3u);
    EXPECT_FALSE(faults.contains("error"));
}

TEST(TxdiagJson, AFailedResultNamesWhatFailedBesideTheValuesRead) {
    const nlohmann::json values = JsonResult("--channel 4=12.5/-255 --bad-checksum 4", "values", 1);
    EXPECT_EQ(values["ok"], false);
    EXPECT_EQ(values["error"], "no reading from channel(s) 1");
    EXPECT_EQ(values["channels"].size(), 18u);
    EXPECT_EQ(values["channels"][2], nlohmann::json::parse(
        R"({"channel": 4, "name": "V5_CHANNEL_ANALOGUE_USB", "raw": -255, "value": 12.5})"));
}

TEST(TxdiagJson, ALatin1SerialNumberComesOutAsValidJson) {
    const nlohmann::json status = JsonResult("--serial \xE9t\xE9 --status cg_range=3", "status", 0);
    EXPECT_EQ(status["identity"]["serial_number"], "\xC3\xA9t\xC3\xA9");
    EXPECT_EQ(status["status"]["cg_range"], 3);
}

}  // namespace

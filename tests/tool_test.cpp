// The boot-loader tool end to end: the real executable runs against the
// emulated board and ready line, and the test compares the bus and both
// standard streams.
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "frame_io.h"
#include "protocol.h"
#include "test_support.h"

namespace {

using sim::BoardConfig;
using sim::BusRecord;

struct ToolRun {
    int status = -1;
    std::string out;
    std::string err;
};

std::string ReadFile(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    std::stringstream text;
    text << file.rdbuf();
    return text.str();
}

enum class Input { Text, Closed };

// Runs the tool with `args`, feeding `input` on its standard input (or
// closing it), and collects its exit status and output.
ToolRun RunTool(std::vector<std::string> args, const std::string& input = "",
            Input mode = Input::Text) {
    const char* tool = TXBOOTLOAD_PATH;
    ToolRun run;

    char dir[] = "/tmp/tooltest.XXXXXX";
    EXPECT_NE(mkdtemp(dir), nullptr);
    const std::string in = std::string(dir) + "/in", out = std::string(dir) + "/out",
                      err = std::string(dir) + "/err";
    std::ofstream(in, std::ios::binary) << input;

    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(tool));
    for (std::string& arg : args) argv.push_back(arg.data());
    argv.push_back(nullptr);

    fflush(nullptr);
    pid_t pid = fork();
    if (pid == 0) {
        if (mode == Input::Closed) {
            close(0);
        } else {
            int fd = open(in.c_str(), O_RDONLY);
            dup2(fd, 0);
        }
        dup2(open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600), 1);
        dup2(open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600), 2);
        execv(tool, argv.data());
        _exit(127);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    run.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    run.out = ReadFile(out);
    run.err = ReadFile(err);
    unlink(in.c_str());
    unlink(out.c_str());
    unlink(err.c_str());
    rmdir(dir);
    return run;
}

const std::string kIntro = "TXspi speed=800000\n------\nTx prepare for software update via usb.\n";
const std::string kQuestion =
    "*********************************************\n"
    "* WARNING\n"
    "* The current tx software will be deactivated\n"
    "* and you MUST install a new sofware to make the\n"
    "* transmitter operational again!\n"
    "*********************************************\n"
    "Ok to set transmitter in usb boot loader mode?\n"
    "Please enter 'yes' to confirm this action\n";
const std::string kConfirmed = "Action confirmed by user\nTx is in usb boot loader mode\n";
const std::string kSeparator = "-------------------\n";
const std::string kIdentity =
    "Product:TX-500\nRev:    C\nSNR:    TX0412-0077\nSW:5.2.1(1020)\n";
const std::string kErrFresh = "TxSpi: Detected protocol version 5\n---- Assume correct cid=0\n";

std::vector<int> Types(const std::vector<BusRecord>& records) {
    std::vector<int> types;
    for (const BusRecord& record : records) types.push_back(record.request[0]);
    return types;
}

TEST(ToolTest, PreconfirmedRunSwitchesTheBoardInFiveExchanges) {
    REQUIRE_MOCK_ENVIRONMENT();
    Bench bench;
    ToolRun run = RunTool({"-Y"});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out, kIntro + kConfirmed + kSeparator);
    EXPECT_EQ(run.err, kErrFresh + kIdentity + kIdentity);
    EXPECT_TRUE(bench.board.InBootLoader());

    std::vector<BusRecord> records = bench.board.Records();
    ASSERT_EQ(records.size(), 5u);
    const int types[] = {M_REQ_INFO, M_NULL, M_BOOT_LOAD_MODE, M_REQ_INFO, M_NULL};
    const uint32_t transfers[] = {88, 88, 8, 8, 88};
    for (size_t i = 0; i < records.size(); ++i) {
        SCOPED_TRACE(i);
        const std::vector<uint8_t>& request = records[i].request;
        EXPECT_EQ(request[0], types[i]);
        EXPECT_EQ(request[1], i + 1);
        EXPECT_EQ(request[2], 5);
        EXPECT_EQ(request[3], 8);
        EXPECT_EQ(request[4], i == 0 ? 0 : records[i - 1].reply[1]);
        EXPECT_EQ(frameChecksum(request, 8), ReadU16LE(request, 6).value());
        EXPECT_EQ(records[i].transferLength, transfers[i]);
    }
    // What the checks of exchanges 3, 4 and 5 saw: the M_NULL acknowledgements
    // of ids 2 and 3, then the identity frame answering id 4.
    EXPECT_EQ(records[2].reply[0], M_NULL);
    EXPECT_EQ(records[2].reply[4], 2);
    EXPECT_EQ(records[3].reply[0], M_NULL);
    EXPECT_EQ(records[3].reply[4], 3);
    EXPECT_EQ(records[4].reply[0], M_GET_INFO);
    EXPECT_EQ(records[4].reply[4], 4);
    // The identity's pause and the tool's own 250 ms sleep.
    EXPECT_GE(NanosecondsBetween(records[1].time, records[2].time), 250000000);
}

TEST(ToolTest, OperatorAnswerDecides) {
    REQUIRE_MOCK_ENVIRONMENT();
    struct Case {
        std::string answer;
        bool confirms;
        Input mode = Input::Text;
    };
    const Case cases[] = {{"yes\n", true},  {"yesplease\n", true}, {"oh yes\n", true},
                          {"Yes\n", false}, {"YES\n", false},      {"y\n", false},
                          {"", false},  // end of input
                          {"", false, Input::Closed},
                          {std::string(20000, 'n') + "\n", false},
                          {std::string(20000, 'n') + " yes\n", true}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.answer.substr(0, 20));
        Bench bench;
        ToolRun run = RunTool({}, c.answer, c.mode);
        EXPECT_EQ(run.status, 0);
        EXPECT_EQ(run.out, kIntro + kQuestion + (c.confirms ? kConfirmed : "No action taken\n") +
                               kSeparator);
        EXPECT_EQ(run.err, kErrFresh + kIdentity + kIdentity);
        std::vector<BusRecord> records = bench.board.Records();
        if (c.confirms) {
            EXPECT_EQ(Types(records), (std::vector<int>{22, 9, 21, 22, 9}));
        } else {
            ASSERT_EQ(Types(records), (std::vector<int>{22, 9, 22, 9}));
            EXPECT_EQ(records[2].request[1], 3);
            EXPECT_EQ(records[2].transferLength, 8u);
        }
    }
}

TEST(ToolTest, HelpComesAfterTheFirstIdentityAndEndsTheRun) {
    REQUIRE_MOCK_ENVIRONMENT();
    for (const std::vector<std::string>& args :
         {std::vector<std::string>{"-h"}, std::vector<std::string>{"-Y", "-h"}}) {
        Bench bench;
        ToolRun run = RunTool(args, "yes\n");
        EXPECT_EQ(run.status, 0);
        EXPECT_EQ(run.out, kIntro + "Usage: " + TXBOOTLOAD_PATH +
                               " [options]\n\n  -h\tprint this help\n  -Y\tpreconfirm answer to YES\n");
        EXPECT_EQ(run.err, kErrFresh + kIdentity);
        EXPECT_EQ(Types(bench.board.Records()), (std::vector<int>{22, 9}));
    }
}

TEST(ToolTest, UnknownOptionsAreReportedAndIgnored) {
    REQUIRE_MOCK_ENVIRONMENT();
    Bench bench;
    ToolRun run = RunTool({"-x", "stray", "-Y"});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out, kIntro + kConfirmed + kSeparator);
    EXPECT_NE(run.err.find("invalid option -- 'x'\n"), std::string::npos) << run.err;
    EXPECT_TRUE(bench.board.InBootLoader());
}

TEST(ToolTest, RunsToItsEndWithoutTheSpiNode) {
    REQUIRE_MOCK_ENVIRONMENT();
    Bench bench({}, /*spidev=*/false);
    ToolRun run = RunTool({"-Y"});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out, "------\nTx prepare for software update via usb.\n" + kConfirmed + kSeparator);
    EXPECT_EQ(run.err.rfind("TxSpi: Detected protocol version 5\n"
                            "******* Error: TxSpi can't open device /dev/spidev0.1\n",
                            0),
              0u);
    EXPECT_NE(run.err.find("*** TXSPI ioctl error ret=0 length=88\n"), std::string::npos);
    EXPECT_NE(run.err.find("Product:\nRev:    \nSNR:    \nSW:()\n"), std::string::npos);
}

TEST(ToolTest, ReadyLineThroughSysfsWhenTheGpioNodeIsMissing) {
    REQUIRE_MOCK_ENVIRONMENT();
    const std::string gpioError = "gpio:*** Error: Can not open device /dev/fpga_config.0 ErrNo=2\n";
    {
        Bench bench({}, /*spidev=*/true, /*gpioNode=*/false);
        bench.testbed.SetSysfsPin("spi0_int", "1\n");
        ToolRun run = RunTool({"-Y"});
        EXPECT_EQ(run.status, 0);
        EXPECT_EQ(run.out, gpioError + kIntro + kConfirmed + kSeparator);
        EXPECT_EQ(run.err, kErrFresh + kIdentity + kIdentity);
    }
    {
        // Without the value file every reading fails, and a failed reading
        // counts as ready.
        Bench bench({}, /*spidev=*/true, /*gpioNode=*/false);
        bench.testbed.AddSysfsRoot();
        ToolRun run = RunTool({"-Y"});
        EXPECT_EQ(run.status, 0);
        EXPECT_EQ(run.out.rfind(gpioError, 0), 0u);
        EXPECT_NE(run.out.find("sysfs: Can not open "
                               "/sys/devices/platform/skarvik-gpio/spi0_int/value\n"),
                  std::string::npos);
        // The link's own stdout messages come between the dialogue's lines.
        EXPECT_NE(run.out.find("Action confirmed by user\n"), std::string::npos);
        EXPECT_NE(run.out.find("Tx is in usb boot loader mode\n"), std::string::npos);
        EXPECT_EQ(bench.board.Records().size(), 5u);
    }
}

TEST(ToolTest, MisbehavingBoardsNeverStopTheRun) {
    REQUIRE_MOCK_ENVIRONMENT();
    struct Case {
        const char* name;
        BoardConfig config;
    };
    std::vector<Case> cases;
    cases.push_back({"silent", {}});
    cases.back().config.silentFromExchange = 1;
    cases.push_back({"garbage", {}});
    cases.back().config.garbage = std::vector<uint8_t>(200, 0xA7);
    cases.push_back({"bad checksum", {}});
    cases.back().config.badChecksumOnExchange = 2;
    cases.push_back({"failing ioctls", {}});
    cases.back().config.failIoctlFromExchange = 1;
    cases.push_back({"silent in the boot loader", {}});
    cases.back().config.silentAfterBootLoad = true;
    for (Case& c : cases) {
        SCOPED_TRACE(c.name);
        Bench bench(c.config);
        ToolRun run = RunTool({"-Y"});
        EXPECT_EQ(run.status, 0);
        EXPECT_NE(run.out.find("Action confirmed by user\n"), std::string::npos);
        EXPECT_NE(run.out.find("Tx is in usb boot loader mode\n"), std::string::npos);
        EXPECT_NE(run.out.find(kSeparator), std::string::npos);
        EXPECT_EQ(bench.board.Records().size(), 5u);
        EXPECT_NE(run.err.find("------TXSPI ERROR -----"), std::string::npos);
    }
}

TEST(ToolTest, IdentityTextsArePrintedAsTheBoardSendsThem) {
    REQUIRE_MOCK_ENVIRONMENT();
    {
        // Texts that fill their 16-byte fields print those 16 bytes and no more,
        // byte for byte (UTF-8 included).
        BoardConfig config;
        config.identity = {"SERIAL0123456789", "PRODUCT-\xC3\x85" "BCDEFG", "REVISION-XYZ-012",
                           "SOFTWARE-5.2.1-X", "0000000000000995"};
        Bench bench(config);
        ToolRun run = RunTool({"-Y"});
        EXPECT_EQ(run.status, 0);
        const std::string identity =
            "Product:PRODUCT-\xC3\x85" "BCDEFG\nRev:    REVISION-XYZ-012\nSNR:    SERIAL0123456789\n"
            "SW:SOFTWARE-5.2.1-X(0000000000000995)\n";
        EXPECT_EQ(run.err, kErrFresh + identity + identity);
    }
    {
        // A protocol-4 board: the link adopts the version once and uses it.
        BoardConfig config;
        config.protocolVersion = 4;
        Bench bench(config);
        ToolRun run = RunTool({"-Y"});
        EXPECT_EQ(run.err, kErrFresh + "TxSpi: Detected protocol version 4\n" + kIdentity + kIdentity);
        std::vector<BusRecord> records = bench.board.Records();
        ASSERT_EQ(records.size(), 5u);
        EXPECT_EQ(records[0].request[2], 5);  // before the first reply was seen
        EXPECT_EQ(records[1].request[2], 4);
    }
}

}  // namespace

// txbootload: switches the transmitter board into its USB boot-loader mode so
// that new transmitter software can be installed over USB.
#include <unistd.h>

#include <array>
#include <cstdio>
#include <cstring>

#include "answer.h"
#include "cli.h"
#include "device_paths.h"
#include "tx_spi.h"

namespace {

constexpr useconds_t kSettlePauseUs = 250000;

void PrintUsage(const char* program) {
    printf("Usage: %s [options]\n\n", program);
    puts("  -h\tprint this help");
    puts("  -Y\tpreconfirm answer to YES");
}

// Asks the operator and reads the answer line.
bool AskOperator() {
    puts("*********************************************");
    puts("* WARNING");
    puts("* The current tx software will be deactivated");
    puts("* and you MUST install a new sofware to make the");
    puts("* transmitter operational again!");
    puts("*********************************************");
    puts("Ok to set transmitter in usb boot loader mode?");
    puts("Please enter 'yes' to confirm this action");
    fflush(stdout);
    return ReadConfirmation(stdin);
}

// --version and --help, answered before anything touches the link. The
// options of the run itself (-h, -Y) are parsed later, after the first
// identity, as they always were.
bool AnswerAtOnce(int argc, char** argv) {
    for (int i = 1; i < argc && strcmp(argv[i], "--") != 0; ++i) {
        if (strcmp(argv[i], "--version") == 0) {
            cli::PrintVersion("txbootload");
            return true;
        }
        if (strcmp(argv[i], "--help") == 0) {
            PrintUsage(argv[0]);
            puts("  --help\tprint this help without talking to the transmitter");
            puts("  --version\tprint the version");
            return true;
        }
    }
    return false;
}

}  // namespace

int main(int argc, char** argv) {
    // Nothing this run does depends on the locale or needs wxWidgets
    // initialised: the board's texts go out byte for byte (narrow %s), and
    // there is no configuration or application object. So the tool sets up
    // neither at start-up.

    // A closed standard stream must not hand its number to the spidev or
    // GPIO node: the dialogue would be written into the device. A missing
    // standard input reads as end of input, which confirms nothing.
    if (!cli::KeepStandardStreams()) return 0;
    if (AnswerAtOnce(argc, argv)) return 0;

    bool confirmed = false;
    std::array<uint8_t, kTransmitterInfoSize> info{};

    TxSpi link(kSpidevPath);
    puts("------");
    puts("Tx prepare for software update via usb.");
    link.GetInfo(info);
    usleep(kSettlePauseUs);

    int option;
    while ((option = getopt(argc, argv, "hY")) != -1) {
        switch (option) {
            case 'Y':
                confirmed = true;
                break;
            case 'h':
                // Ends the run here, with nothing asked or sent; the link
                // closes its descriptors on the way out.
                PrintUsage(argv[0]);
                return 0;
            default:
                break;  // getopt has already said what was wrong
        }
    }

    if (!confirmed) {
        confirmed = AskOperator();
        if (!confirmed) puts("No action taken");
    }
    if (confirmed) {
        puts("Action confirmed by user");
        link.SetBootLoadMode();
        puts("Tx is in usb boot loader mode");
    }

    puts("-------------------");
    link.GetInfo(info);
    usleep(kSettlePauseUs);
    return 0;
}

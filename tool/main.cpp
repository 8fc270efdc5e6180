// txbootload: switches the transmitter board into its USB boot-loader mode so
// that new transmitter software can be installed over USB.
#include <unistd.h>

#include <array>
#include <cstdio>
#include <cstring>

#include "answer.h"
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

}  // namespace

int main(int argc, char** argv) {
    // Nothing this run does depends on the locale or needs wxWidgets
    // initialised: the board's texts go out byte for byte (narrow %s), and
    // there is no configuration or application object. So the tool sets up
    // neither at start-up.

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

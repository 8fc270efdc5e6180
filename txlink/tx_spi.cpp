#include "tx_spi.h"

#include <fcntl.h>
#include <sys/types.h>

#include <cstdio>
#include <cstring>

#include "device_paths.h"

std::string_view TransmitterInfo::Text(size_t offset) const {
    const char* text = reinterpret_cast<const char*>(bytes.data() + offset);
    return std::string_view(text, strnlen(text, kTextFieldSize));
}

TxSpi::TxSpi(const char* devicePath, DeviceDriver& driver) : gpio(kGpioDevicePath, driver) {
    // A fresh link expects any reply: the first exchange checks neither type
    // nor id and moves at least 88 bytes.
    activeProtocol = nullptr;
    CheckProtocolVersion(5);
    current.ExpectAnything();

    if (!spi.Open(devicePath, O_RDWR | O_CLOEXEC, driver)) {
        fprintf(stderr, "******* Error: TxSpi can't open device %s\n", devicePath);
        return;
    }

    // Mode and word size are written and read back; their results do not
    // matter, the board copes with what the controller gives.
    // Every refusal is counted for the caller, SetupFailures().
    auto refused = [this](int result) {
        if (result == -1) ++setupFailures;
        return result == -1;
    };
    uint8_t mode = kSpiMode;
    refused(spi.WriteMode(mode));
    refused(spi.ReadMode(mode));
    uint8_t bits = kSpiBitsPerWord;
    refused(spi.WriteBitsPerWord(bits));
    refused(spi.ReadBitsPerWord(bits));

    // A controller may round the clock; report what it settled on.
    uint32_t speed = kSpiSpeedHz;
    if (refused(spi.WriteMaxSpeed(speed))) printf("can't set max speed hz\n");
    if (refused(spi.ReadMaxSpeed(speed))) {
        printf("can't get max speed hz\n");
    } else {
        printf("TXspi speed=%d\n", static_cast<int>(speed));
    }
}

int64_t TxSpi::MinDelayNs(uint32_t type) const {
    if (fastTiming) {
        if (type >= kMessageTypeCount) return 200000;
        int64_t us = MessageCatalogue[type].fastDelayUs;
        return us < 200 ? 200000 : us * 1000;
    }
    if (type >= kMessageTypeCount) return 4000000;
    int64_t us = MessageCatalogue[type].legacyDelayUs;
    return us < 4000 ? 4000000 : us * 1000;
}

bool TxSpi::CheckProtocolVersion(int version) {
    if (activeProtocol != nullptr && activeProtocol->version == version) return true;
    if (errorCount <= 10) fprintf(stderr, "TxSpi: Detected protocol version %d\n", version);
    activeProtocol = version == 4 ? &ProtocolV4 : &ProtocolV5;
    return true;
}

int TxSpi::SpiTransfer(size_t length, const uint8_t* tx, uint8_t* rx) {
    size_t moved = length;
    if (moved > kMaxTransfer) {
        printf("*** error too large message transfer. %d > %d\n", static_cast<int>(length),
               static_cast<int>(kMaxTransfer));
        moved = kMaxTransfer;
    }

    if (!gpio.readReadyLine()) {
        fprintf(stderr, "*** TXSPI try to communicate with spi not ready\n");
    }

    int count = 0;
    if (spi.IsOpen()) count = spi.Transfer(tx, rx, moved);

    if (count >= 0 && static_cast<size_t>(count) == length) return 0;
    fprintf(stderr, "*** TXSPI ioctl error ret=%d length=%zd\n", count,
            static_cast<ssize_t>(length));
    return IOCTL_ERROR;
}

void TxSpi::PrintTrace(const TraceRecord& record) const {
    auto text = [&](int bit) { return (record.errorFlags & (1u << bit)) ? ErrorFlagTexts[bit] : ""; };
    fprintf(stderr, "TXSPI:%s MyId=%d TxId=%d %s %d %s %s %s %s %s\n",
            record.direction ? "OUT -->" : "IN  <--", static_cast<int>(record.myId),
            static_cast<int>(record.txId), MessageName(record.type & 0xFF),
            static_cast<int>(record.errorFlags), text(0), text(1), text(2), text(3), text(4));
}

uint32_t TxSpi::CallProtocolHook(uint32_t value, uint32_t flag, const char* file, int line) {
    if (activeProtocol == nullptr || activeProtocol->hook == nullptr) return value;
    try {
        return activeProtocol->hook(value, flag);
    } catch (...) {
        printf("Exception guard FILE: %s LINE:%d\n", file, line);
        throw;
    }
}

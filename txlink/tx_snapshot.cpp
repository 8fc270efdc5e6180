// Two diagnostic read-outs of a version-5 transmitter: a snapshot record and
// the 19 channel values.
#include <bit>
#include <cstdio>

#include "frame_io.h"
#include "tx_spi.h"

namespace {

// The line of each channel, by channel number minus one.
const char* const kChannelFormats[kV5ChannelCount] = {
    "V5_CHANNEL_ANALOGUE_INTERNAL_BATTERY=%d (0x%x)/ %f\n",
    "V5_CHANNEL_ANALOGUE_EXTERNAL_BATTERY=%d (0x%x)/ %f\n",
    "V5_CHANNEL_ANALOGUE_COMMON_BATTERY=%d (0x%x)/ %f\n",
    "V5_CHANNEL_ANALOGUE_USB=%d (0x%x)/ %f\n",
    "V5_CHANNEL_ANALOGUE_CURRENT_FEEDBACK=%d (0x%x)/ %f\n",
    "V5_CHANNEL_ANALOGUE_LLV_FEEDBACK=%d (0x%x)/ %f\n",
    "V5_CHANNEL_ANALOGUE_RLV_FEEDBACK=%d (0x%x)/ %f\n",
    "V5_CHANNEL_ANALOGUE_12V_REFERENCE=%d (0x%x)/ %f\n",
    "V5_CHANNEL_TEMPERATURE_POWER_SWITCH=%d (0x%x)/ %f\n",
    "V5_CHANNEL_TEMPERATURE_BRIDGE=%d (0x%x)/ %f\n",
    "V5_CHANNEL_TEMPERATURE_REGULATOR=%d (0x%x)/ %f\n",
    "V5_CHANNEL_DIGIO_POLARITY_SWITCH=%d (0x%x)/ %f\n",
    "V5_CHANNEL_DIGIO_EMERGENCY_STOP=%d (0x%x)/ %f\n",
    "V5_CHANNEL_DIGIO_DC_DC_POWER_ENABLED=%d (0x%x)/ %f\n",
    "V5_CHANNEL_DIGIO_BATTERY_ON=%d (0x%x)/ %f\n",
    "V5_CHANNEL_DIGIO_BATTERY_FAULT=%d (0x%x)/ %f\n",
    "V5_CHANNEL_DIGIO_ISOLATED_POWER=%d (0x%x)/ %f\n",
    "V5_CHANNEL_DIGIO_PIOA=%d (0x%x)/ %f\n",
    "V5_CHANNEL_DIGIO_PIOB=%d (0x%x)/ %f\n",
};

float F32(std::span<const uint8_t> bytes, size_t offset) {
    return ReadF32LE(bytes, offset).value_or(0.0f);
}

// A range: element 0 and element 1 of a pair of singles.
void PrintRange(const char* format, std::span<const uint8_t> s, size_t offset) {
    fprintf(stderr, format, F32(s, offset), F32(s, offset + 4));
}

}  // namespace

void TxSpi::PrintSnapshot(int32_t recordId, bool print) {
    if (!print) return;
    if (activeProtocol == nullptr || activeProtocol->version <= 4) return;

    WriteU32LE(txBuffer, 8, static_cast<uint32_t>(recordId));
    txrx(M_REQ_SNAPSHOT, 12, 8);
    if (txrx(M_NULL, 8, kSnapshotSize) != 0 || rxBuffer[0] != M_SNAPSHOT) return;

    const std::span<const uint8_t> s = std::span(rxBuffer).first(kSnapshotSize);
    fprintf(stderr, "Snapshot information for record id %d\n", recordId);
    fprintf(stderr, "-------------------------------------\n");
    fprintf(stderr, "Fault flags: 0x%08x, Aggregated fault flags: 0x%08x\n",
            ReadU32LE(s, 12).value_or(0), ReadU32LE(s, 16).value_or(0));
    fprintf(stderr, "Requested current: %.5fA\n", F32(s, 20));
    fprintf(stderr, "Requested voltage: %.1fV\n", F32(s, 24));
    fprintf(stderr, "Estimated load: %.1fOhm\n", F32(s, 72));
    fprintf(stderr, "CG range: %d, VG range: %d\n", ReadU8(s, 102).value_or(0),
            ReadU8(s, 103).value_or(0));
    PrintRange("Measured load: %.1f-%.1fOhm\n", s, 104);
    PrintRange("Output voltage: %.1f-%.1fV\n", s, 112);
    PrintRange("Common power voltage level: %.1f-%.1fV\n", s, 120);
    PrintRange("Internal isolated voltage level: %.1f-%.1fA\n", s, 128);
    PrintRange("Current level: %.5f-%.5fA\n", s, 136);
    PrintRange("Left leg voltage level: %.1f-%.1f\n", s, 144);
    PrintRange("Right leg voltage level: %.1f-%.1f\n", s, 152);
    PrintRange("Power loss: %.1f-%.1fW\n", s, 160);
    fprintf(stderr, "-------------------------------------\n");
}

void TxSpi::PrintChannelValues() {
    for (uint32_t channel = 1; channel <= kV5ChannelCount; ++channel) {
        uint32_t raw = 0;
        uint32_t value = 0;
        RequestValue(channel, raw, value);
        printf(kChannelFormats[channel - 1], static_cast<int>(raw), raw,
               static_cast<double>(std::bit_cast<float>(value)));
    }
}

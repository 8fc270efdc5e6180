// The transmitter's status record and its fault word: fetching, dumping,
// testing and turning the word into text.
#include <algorithm>
#include <cmath>
#include <cstdio>

#include "frame_io.h"
#include "tx_spi.h"

namespace {

constexpr int kStatusAttempts = 10;
// Not regulating while the working point is not valid.
constexpr uint32_t kNoLoadMask = kFaultNotRegulating | kFaultWorkingPointValid;
constexpr uint32_t kNoLoadBits = kFaultNotRegulating;
// 2^-22: an estimated load below it counts as none.
constexpr float kNoLoadThreshold = 2.384185791015625e-7f;

float F32(std::span<const uint8_t> bytes, size_t offset) {
    return ReadF32LE(bytes, offset).value_or(0.0f);
}
int I16(std::span<const uint8_t> bytes, size_t offset) {
    return ReadI16LE(bytes, offset).value_or(0);
}
int U8(std::span<const uint8_t> bytes, size_t offset) { return ReadU8(bytes, offset).value_or(0); }

void PrintStatusDump(std::span<const uint8_t> s) {
    fprintf(stderr, "-------------------\n");
    fprintf(stderr, "fault_flags=0x%08x\n", ReadU32LE(s, kStatusFaultFlags).value_or(0));
    fprintf(stderr, "cg_current= %6.4fA\n", F32(s, kStatusCgCurrent));
    fprintf(stderr, "vg_voltage= %4.1fV\n", F32(s, kStatusVgVoltage));
    fprintf(stderr, "ad_value[0]= %5.4fV %4d\n", F32(s, kStatusAdValue), I16(s, kStatusAdRaw));
    fprintf(stderr, "ad_value[1]= %5.1fV %4d\n", F32(s, kStatusAdValue + 4),
            I16(s, kStatusAdRaw + 2));
    fprintf(stderr, "ad_value[2]= %5.1fV %4d\n", F32(s, kStatusAdValue + 8),
            I16(s, kStatusAdRaw + 4));
    fprintf(stderr, "ad_value[3]= %5.2fV %4d\n", F32(s, kStatusAdValue + 12),
            I16(s, kStatusAdRaw + 6));
    fprintf(stderr, "temperature[0]= %3.1fC\n", F32(s, kStatusTemperature));
    fprintf(stderr, "temperature[1]= %3.1fC\n", F32(s, kStatusTemperature + 4));
    fprintf(stderr, "temperature[2]= %3.1fC\n", F32(s, kStatusTemperature + 8));
    fprintf(stderr, "estimated_load= %7.1fOhm\n", F32(s, kStatusEstimatedLoad));
    fprintf(stderr, "update_count= %d\n", ReadI32LE(s, kStatusUpdateCount).value_or(0));
    fprintf(stderr, "cg_current_da= %4d range=%d\n", I16(s, kStatusCgCurrentDa),
            U8(s, kStatusCgRange));
    fprintf(stderr, "vg_voltage_da= %4d range=%d\n", I16(s, kStatusVgVoltageDa),
            U8(s, kStatusVgRange));
    const int isOn = U8(s, kStatusIsOn);
    fprintf(stderr, "is_on= %d %s\n", isOn, isOn != 0 ? "ON" : "OFF");
    fprintf(stderr, "switch_state= %d\n", U8(s, kStatusSwitchState));
    fprintf(stderr, "-------------------\n");
}

// The entries of the active fault-text table; empty without a descriptor.
std::span<const FaultText> ActiveFaultTexts() {
    if (activeProtocol == nullptr || activeProtocol->faultTextCount == 0 ||
        activeProtocol->faultTexts == nullptr) {
        return {};
    }
    return {activeProtocol->faultTexts, activeProtocol->faultTextCount};
}

}  // namespace

uint32_t TxStatus::FaultFlags() const {
    return ReadU32LE(bytes, kStatusFaultFlags).value_or(0);
}

float TxStatus::EstimatedLoad() const {
    return ReadF32LE(bytes, kStatusEstimatedLoad).value_or(0.0f);
}

void TxSpi::GetStatus(bool print) {
    for (int attempt = 0; attempt < kStatusAttempts; ++attempt) {
        txrx(M_REQ_STATUS, 8, 8);
        const int result = txrx(M_NULL, 8, kTxStatusSize);
        if (result != 0 || rxBuffer[0] != M_STATUS) continue;

        const std::span<const uint8_t> frame = std::span(rxBuffer).first(kTxStatusSize);
        if (print) PrintStatusDump(frame);
        std::copy(frame.begin(), frame.end(), status.bytes.begin());
        faultWord = status.FaultFlags();
        return;
    }
}

bool TxSpi::HasFault() const {
    if (activeProtocol == nullptr) return true;
    if ((faultWord & activeProtocol->faultMask) != 0) return true;
    // A NaN load fails the comparison: it is not taken for "no load".
    return activeProtocol->version > 4 && (faultWord & kNoLoadMask) == kNoLoadBits &&
           std::fabs(status.EstimatedLoad()) < kNoLoadThreshold;
}

bool TxSpi::IsWorkingPointValid() const {
    if (activeProtocol == nullptr || (faultWord & activeProtocol->faultMask) != 0) return false;
    return (faultWord & kFaultWorkingPointValid) != 0;
}

bool TxSpi::IsInhibited() const {
    if (activeProtocol == nullptr) return false;
    return (faultWord & activeProtocol->inhibitMask) != 0;
}

bool TxSpi::IsLinkHealthy() const { return errorCount <= kErrorOutputLimit; }

void TxSpi::PrintFault(uint32_t word) const {
    // The table order decides which of several set bits is named.
    for (const FaultText& entry : ActiveFaultTexts()) {
        if ((entry.mask & word) != 0) {
            fprintf(stderr, "* %s *\n", entry.text);
            return;
        }
    }
    fprintf(stderr, "* %s *\n", "Unknown fault");
}

wxString TxSpi::TxStatusText(uint32_t word) {
    wxString text = wxString::Format(wxT("TX status 0x%04x"), word);
    bool first = true;
    for (const FaultText& entry : ActiveFaultTexts()) {
        if ((entry.mask & word) == 0) continue;
        // The texts are ASCII constants of this program.
        text += first ? wxT(": ") : wxT(", ");
        text += wxString::FromAscii(entry.text);
        first = false;
    }
    return text;
}

void PrintStatusTraceLine(const StatusTraceSample& sample) {
    const std::span<const uint8_t> b(sample.bytes);
    printf("@%6.3f\t%6.3f\t%6.3f\t0x%08x\t%6.3f\t%d\t%6.3f\t%d\t%6.3f\t%6.3f\t%6.3f\n", F32(b, 0),
           F32(b, 4), F32(b, 8), ReadU32LE(b, 12).value_or(0), F32(b, 104), U8(b, 166),
           F32(b, 108), U8(b, 167), F32(b, 112), F32(b, 116), F32(b, 120));
}

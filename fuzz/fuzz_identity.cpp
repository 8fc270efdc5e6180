// Identity frames: 88 arbitrary bytes as the M_GET_INFO reply, through the
// identity printout, the software-number parse and the description and
// version strings. Every text must be printed
// exactly as it stands in its field, up to its NUL or the field's end: bytes
// that are not ASCII or not UTF-8 neither vanish nor turn into "(null)".
#include <array>
#include <clocale>
#include <string>

#include "fuzz_link.h"

namespace {

// The identity lines GetInfo prints, built from the frame independently of
// the link's own field accessors.
std::string ExpectedPrintout(const uint8_t* frame) {
    auto field = [&](size_t offset) {
        const char* text = reinterpret_cast<const char*>(frame + offset);
        return std::string(text, strnlen(text, 16));
    };
    return "Product:" + field(24) + "\n" + "Rev:    " + field(40) + "\n" + "SNR:    " + field(8) +
           "\n" + "SW:" + field(56) + "(" + field(72) + ")\n";
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    // As the tool runs: the user's character type, which printf consults for
    // wide conversions only.
    setlocale(LC_CTYPE, "C.UTF-8");
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* bytes, size_t size) {
    if (size < kTransmitterInfoSize) return -1;
    // What the board clocks out: 88 zero bytes during the request, then the
    // identity frame; the driver's two control bytes (taken from the end:
    // 0, full transfers) close the input.
    std::array<uint8_t, 88 + kTransmitterInfoSize + 2> wire{};
    std::copy_n(bytes, kTransmitterInfoSize, wire.begin() + 88);
    FuzzedDataProvider data(wire.data(), wire.size());
    FuzzLink fuzz(data);

    char* printed = nullptr;
    size_t printedSize = 0;
    FILE* capture = open_memstream(&printed, &printedSize);
    FUZZ_CHECK(capture != nullptr);
    FILE* savedErr = stderr;
    std::array<uint8_t, kTransmitterInfoSize> info{};
    stderr = capture;
    const int number = fuzz.link.GetInfo(info);
    stderr = savedErr;
    fclose(capture);

    const std::string out(printed, printedSize);
    free(printed);
    const uint8_t* frame = wire.data() + 88;
    FUZZ_CHECK(std::equal(info.begin(), info.end(), frame));
    // The identity lines close the output (the exchange reports come first).
    const std::string expected = ExpectedPrintout(frame);
    FUZZ_CHECK(out.size() >= expected.size());
    FUZZ_CHECK(out.compare(out.size() - expected.size(), expected.size(), expected) == 0);
    FUZZ_CHECK(number == fuzz.link.SoftwareNumber());

    // The description and version strings keep every text: a field that is
    // not empty gives at least one character, whatever its bytes.
    const TransmitterInfo& identity = fuzz.link.Info();
    auto present = [](std::string_view text) { return text.empty() ? 0u : 1u; };
    const wxString description = fuzz.link.GetUnitDescription();
    FUZZ_CHECK(description.length() >= 2 + present(identity.product()) +
                                           present(identity.revision()) +
                                           present(identity.serialNumber()));
    const wxString version = fuzz.link.GetSoftwareVersion();
    FUZZ_CHECK(version.length() >= present(identity.software()));
    const bool nullInFields = expected.find("(null)") != std::string::npos;
    FUZZ_CHECK(nullInFields || !description.Contains("(null)"));
    FUZZ_CHECK(nullInFields || !version.Contains("(null)"));
    FUZZ_CHECK(fuzz.link.FastTiming() == (number > 994));
    return 0;
}

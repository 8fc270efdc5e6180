// Identity frames: 88 arbitrary bytes as the M_GET_INFO reply, through the
// identity printout, the software-number parse and the description and
// version strings. Every text must be printed
// exactly as it stands in its field, up to its NUL or the field's end: bytes
// that are not ASCII or not UTF-8 neither vanish nor turn into "(null)".
#include <clocale>

#include "fuzz_link.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* bytes, size_t size) {
    // As the tool runs: the user's character type, which printf consults for
    // wide conversions only.
    [[maybe_unused]] static const char* const locale = setlocale(LC_CTYPE, "C.UTF-8");
    if (size < kTransmitterInfoSize) return -1;
    // What the board clocks out: 88 zero bytes during the request, then the
    // identity frame; the driver's two control bytes (taken from the end:
    // 0, full transfers) close the input.
    std::array<uint8_t, 88 + kTransmitterInfoSize + 2> wire{};
    std::copy_n(bytes, kTransmitterInfoSize, wire.begin() + 88);
    FuzzedDataProvider data(wire.data(), wire.size());
    FuzzLink link(data);

    char* printed = nullptr;
    size_t printedSize = 0;
    FILE* capture = open_memstream(&printed, &printedSize);
    FUZZ_CHECK(capture != nullptr);
    std::swap(stderr, capture);
    std::array<uint8_t, kTransmitterInfoSize> info{};
    const int number = link.GetInfo(info);
    std::swap(stderr, capture);
    fclose(capture);
    FUZZ_CHECK(std::equal(info.begin(), info.end(), bytes));
    FUZZ_CHECK(number == link.SoftwareNumber() && link.FastTiming() == (number > 994));

    // The identity lines GetInfo prints, built from the frame independently of
    // the link's own field accessors, close the output (the exchange reports
    // come first).
    const char* frame = reinterpret_cast<const char*>(bytes);
    auto field = [frame](size_t at) { return std::string(frame + at, strnlen(frame + at, 16)); };
    const std::string expected = "Product:" + field(24) + "\nRev:    " + field(40) + "\nSNR:    " +
                                 field(8) + "\nSW:" + field(56) + "(" + field(72) + ")\n";
    FUZZ_CHECK(std::string_view(printed, printedSize).ends_with(expected));
    free(printed);

    // The description and version strings keep every text: a field that is
    // not empty gives at least one character, whatever its bytes.
    const wxString description = link.GetUnitDescription();
    FUZZ_CHECK(description.length() >=
               2u + !field(24).empty() + !field(40).empty() + !field(8).empty());
    const wxString version = link.GetSoftwareVersion();
    FUZZ_CHECK(version.length() >= (field(56).empty() ? 0u : 1u));
    FUZZ_CHECK(expected.find("(null)") != std::string::npos ||
               (!description.Contains("(null)") && !version.Contains("(null)")));
    return 0;
}

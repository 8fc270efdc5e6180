// The transmitter's identity as display strings.
#include <cstdio>
#include <string>

#include "tx_spi.h"

namespace {

// An identity text (at most its 16-byte field) as characters. The board's
// bytes are taken in the locale's encoding; bytes that the locale cannot
// convert (any non-ASCII byte in the "C" locale, broken multibyte sequences)
// are read as UTF-8 and, failing that, one character per byte, so that a text
// never vanishes or turns into "(null)".
wxString IdentityText(std::string_view field) {
    if (field.empty()) return wxString();
    wxString text(field.data(), wxConvLibc, field.size());
    if (!text.empty()) return text;
    text = wxString::FromUTF8(field.data(), field.size());
    if (!text.empty()) return text;
    return wxString(field.data(), wxConvISO8859_1, field.size());
}

}  // namespace

wxString TxSpi::GetUnitDescription() const {
    return wxString::Format(L"%s/%s/%s", IdentityText(info.product()),
                            IdentityText(info.revision()), IdentityText(info.serialNumber()));
}

wxString TxSpi::GetSoftwareVersion() const {
    // The field may fill its 16 bytes without a NUL: scan a bounded copy.
    const std::string software(info.software());
    unsigned major = 0;
    unsigned minor = 0;
    unsigned patch = 0;
    if (sscanf(software.c_str(), "%u.%u.%u", &major, &minor, &patch) == 3) {
        return wxString::Format(L"%s", IdentityText(info.software()));
    }
    return wxString::Format(L"%s(%s)", IdentityText(info.software()),
                            IdentityText(info.softwareNumberText()));
}

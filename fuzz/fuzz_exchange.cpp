// The receive path: arbitrary bytes from the board, arbitrary driver failures
// and an arbitrary sequence of link operations, the status, snapshot and
// channel-value printers and the mode procedures included. Beyond what the sanitizers
// catch, the link's bookkeeping must stay within its bounds after every
// operation.
#include "fuzz_link.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* bytes, size_t size) {
    FuzzedDataProvider data(bytes, size);
    FuzzLink link(data);
    std::array<uint8_t, kTransmitterInfoSize> frame{};
    StatusTraceSample sample;

    // The operations of the link, in the order the input picks them.
    for (int step = 0; step < 24 && data.remaining_bytes() > 0; ++step) {
        uint32_t first = 0, second = 0;
        switch (data.ConsumeIntegralInRange<int>(0, 26)) {
        case 0:
            link.GetInfo(frame);
            FUZZ_CHECK(frame == link.Info().bytes);
            break;
        case 1: link.SetBootLoadMode(); break;
        case 2: link.Reset(); break;
        case 3: link.AutoSetup(data.ConsumeIntegral<uint32_t>()); break;
        case 4:
            link.SetPolarity(data.ConsumeIntegral<int>(), data.ConsumeIntegral<uint32_t>());
            break;
        case 5: link.RequestValue(data.ConsumeIntegral<uint32_t>(), first, second); break;
        case 6: link.RequestLimit(data.ConsumeIntegral<uint32_t>(), 7, first, second); break;
        case 7: link.RequestReady(); break;
        case 8: link.RequestFaults(); break;
        case 9: link.txrxRestart(); break;
        // Status, faults and their texts.
        case 10: link.GetStatus(true); break;
        case 11:
            first = data.ConsumeIntegral<uint32_t>();
            link.PrintFault(first);
            FUZZ_CHECK(TxSpi::TxStatusText(first).StartsWith("TX status 0x"));
            {
                const bool valid = link.IsWorkingPointValid();
                FUZZ_CHECK(!link.HasFault() || !valid);
                (void)link.IsInhibited();
            }
            break;
        case 12:
            data.ConsumeData(sample.bytes.data(), sample.bytes.size());
            PrintStatusTraceLine(sample);
            break;
        // Snapshots and channel values.
        case 13: link.PrintSnapshot(data.ConsumeIntegral<int32_t>(), true); break;
        case 14: link.PrintChannelValues(); break;
        // Modes and set-up procedures.
        case 15: link.SendInit(); break;
        case 16: link.SendStandby(); break;
        case 17: link.SendSetup(data.ConsumeIntegral<uint32_t>(), 1, 2); break;
        case 18: link.SendSetLimit(data.ConsumeIntegral<uint32_t>(), 3, 4); break;
        case 19:
            data.ConsumeData(frame.data(), frame.size());
            link.SendSetInfo(frame);
            break;
        case 20: link.SendOn(data.ConsumeBool(), data.ConsumeIntegral<uint32_t>()); break;
        case 21: link.WaitForAutoSetup(); break;
        case 22: link.WaitForModeChangeDone(); break;
        case 23: link.RecoverToInit(); break;
        case 24: link.PollReply(); break;
        // Texts built from the last identity.
        case 25:
            FUZZ_CHECK(link.GetUnitDescription().length() >= 2u + !link.Info().product().empty());
            (void)link.GetSoftwareVersion();
            break;
        default: {
            // Any type, with the lengths callers may pass (at most 200).
            const uint32_t type = data.ConsumeIntegral<uint8_t>();
            const size_t tx = data.ConsumeIntegralInRange<size_t>(8, kMaxTransfer);
            const size_t rx = data.ConsumeIntegralInRange<size_t>(0, kMaxTransfer);
            const int flags = link.txrx(type, tx, rx);
            FUZZ_CHECK((flags & ~0x1F) == 0 && (flags & PROTOCOL_VERSION_ERROR) == 0);
        }
        }
        // The link's bookkeeping stays within its bounds.
        FUZZ_CHECK(link.History().size() <= 4 && link.ErrorCount() >= 0);
        FUZZ_CHECK(link.Current().ExpectedReplyLength() <= kMaxTransfer);
        FUZZ_CHECK(link.FastTiming() == (link.SoftwareNumber() > 994));
    }
    return 0;
}

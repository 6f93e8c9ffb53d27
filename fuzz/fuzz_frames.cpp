// Any bytes, in any chunks, into the frame receiver of either role.
#include "DebugLog.h"
#include "FrameReceiver.h"
#include "MemoryCommPort.h"
#include <fuzzer/FuzzedDataProvider.h>

namespace {
// Stands in for the station: a handed-over block or an error ends with the frame reset.
struct ResettingHooks : FrameReceiverHooks {
    FrameReceiver* rx = nullptr;
    TransferState* s = nullptr;
    void ReportLocalError(qint32) override { rx->FrameReset(); }
    void ReportRemoteError(qint32) override { rx->FrameReset(); }
    void ShowCritical(const QString&) override {}
    void HandOverToReceiver(const ReceivedBlock& b) override
    {
        // A complete data block must lie inside the buffer with its stated length.
        if (s->m_abReceiveBuf[1] == KIND_DATA && s->nNrBytesData + DATA_BLOCK_OVERHEAD != s->m_nReceiveBufExpected)
            __builtin_trap();
        s->lastSequenceNr = b.nSequenceNrA;
        rx->FrameReset();
    }
    void HandOverToSender(const ReceivedBlock&) override { rx->FrameReset(); }
    void ReceiverGotStop() override { rx->FrameReset(); }
};
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    FuzzedDataProvider in(data, size);
    Globals g;
    g.GlbIAm = in.ConsumeBool() ? 1 : 0;
    g.GlbWaitBeforeSend = 0;
    TransferState s;
    ResetTransferState(s, g.IsReceiver());
    s.blockTypeExpecting = in.ConsumeIntegralInRange<qint32>(0, 5);
    s.lastSequenceNr = in.ConsumeIntegralInRange<qint32>(-1, 3);
    s.m_bRepeatMayFollow = in.ConsumeBool();
    MemoryCommPort port;
    QString why;
    port.SetPortOpen(true, why);
    DebugLog log(g);
    FrameTransmitter tx(g, s, port, log);
    ResettingHooks hooks;
    FrameReceiver rx(g, s, port, log, tx, hooks);
    hooks.rx = &rx;
    hooks.s = &s;

    while (in.remaining_bytes() > 0) {
        const size_t n = in.ConsumeIntegralInRange<size_t>(1, 300);
        const std::string chunk = in.ConsumeBytesAsString(n);
        rx.HandleReceivedBytes(QByteArray(chunk.data(), qsizetype(chunk.size())));
        if (s.m_nReceiveBufCount < 0 || s.m_nReceiveBufCount > RECEIVE_BUFFER_SIZE || s.m_nReceiveBufExpected < 1)
            __builtin_trap();
        if (in.ConsumeIntegralInRange<int>(0, 15) == 0)
            rx.IncompleteBlockTimedOut();
    }
    return 0;
}

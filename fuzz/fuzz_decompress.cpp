// A data block's compressed payload with the raw size its peer announces:
// either the input itself, or a real frame of the input with a few bytes
// damaged, since libzstd itself carries no coverage to steer the fuzzer.
#include "BlockCodes.h"
#include "BlockCompression.h"
#include <fuzzer/FuzzedDataProvider.h>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    FuzzedDataProvider in(data, size);
    const qint32 maxRaw = in.ConsumeIntegralInRange<qint32>(0, MAX_PAYLOAD);
    const qint32 rawSize = in.ConsumeIntegralInRange<qint32>(-1, MAX_PAYLOAD + 1);
    const bool fromFrame = in.ConsumeBool();
    const int edits = in.ConsumeIntegralInRange<int>(0, 4);
    std::vector<std::pair<size_t, quint8>> changes;
    for (int i = 0; i < edits; ++i)
        changes.emplace_back(in.ConsumeIntegral<quint16>(), in.ConsumeIntegral<quint8>());
    const std::string rest = in.ConsumeRemainingBytesAsString();
    QByteArray block(rest.data(), qsizetype(rest.size()));
    if (fromFrame) {
        const QByteArray raw = block;
        block = CompressBlock(raw, 1 + int(raw.size() % 6));
        if (block.isEmpty())
            return 0;
        QByteArray back;
        if (!DecompressBlock(reinterpret_cast<const quint8*>(block.constData()), block.size(), qint32(raw.size()),
                             qint32(raw.size()), back) || back != raw)
            __builtin_trap();
        for (const auto& [at, value] : changes)
            block[qsizetype(at % size_t(block.size()))] = char(value);
    }
    QByteArray out("stale");
    const bool ok = DecompressBlock(reinterpret_cast<const quint8*>(block.constData()), block.size(), rawSize,
                                    maxRaw, out);
    // Accepted means exactly the announced size within the largest block; refused leaves nothing.
    if (ok ? (rawSize < 0 || rawSize > maxRaw || out.size() != rawSize) : !out.isEmpty())
        __builtin_trap();
    return 0;
}

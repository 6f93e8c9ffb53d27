#pragma once
#include "BlockCompression.h"
#include "Capabilities.h"
#include "CompressionPace.h"
#include <QByteArray>

// The payload of one of the Sender's data blocks in the extended mode: the
// file bytes as they are, compressed alone, or compressed against the bytes
// before them that the Receiver holds, whichever the terms allow and is
// smaller, at the level the line affords.
class BlockPacker {
public:
    struct Packed {
        quint8 type = 0;
        QByteArray payload;
    };

    void Start(const Capabilities& caps, qint64 lineBytesPerSecond);
    // reference: the file bytes that end at referenceEnd (empty: none).
    Packed Pack(qint64 offset, const QByteArray& data, qint64 referenceEnd, QByteArrayView reference);
    int Level() const { return m_pace.Level(); }

private:
    // Data that did not compress is tried again after 1, 2, 4 then every 8 blocks.
    static constexpr int kMostSkipped = 8;

    Capabilities m_caps;
    int m_skip = 0;      // blocks still to send without trying
    int m_skipped = 0;   // blocks skipped after the last failed try
    CompressionPace m_pace;
    BlockCompressor m_zstd;
};

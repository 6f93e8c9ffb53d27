#pragma once
#include <QByteArray>
#include "Disk.h"
#include <optional>

// The file bytes a compressed block leans on: up to kMostBytes bytes ending at
// a given position. They are kept, so the next block's reference, which mostly
// ends a block further on, reads only the bytes new to it; memory stays at the
// largest reference whatever the file's size.
class ReferenceWindow {
public:
    static constexpr qint64 kMostBytes = 1 << 20;

    // The length bytes of file that end at end; nothing when length is not 1
    // to kMostBytes, more than end, or the file cannot give them.
    std::optional<QByteArrayView> Bytes(DiskFile& file, qint64 end, qint64 length);
    // The file's bytes changed (emptied, another file): nothing kept is valid.
    void Clear();

private:
    QByteArray m_bytes;  // the file's bytes from m_start on
    qint64 m_start = 0;
};

#pragma once
#include "BlockCodes.h"
#include <QtGlobal>

// How the blocks of the file now moving are checked: the sum of the payload,
// the CRC-32 of the payload, or the CRC-32 of the whole block but its check
// field (type, both numbers and length as well as the payload).
enum class BlockCheck { Sum, Crc32, Crc32Block };

// What the current file's data phase uses. Headers, "END" and every block of a
// run with the original program keep the specified protocol (Classic()); two
// copies of Velotrax may agree on more for the data of one file.
struct Capabilities {
    bool extended = false;            // agreed with a Velotrax peer for this file
    BlockCheck check = BlockCheck::Sum;
    qint32 largestPayload = MAX_FILE_BYTES_PER_BLOCK;  // payload bytes of one data block
    bool streaming = false;           // several blocks in flight, answered one by one
    bool compression = false;         // data blocks may go zstd-compressed
    bool reference = false;           // ... against file bytes the Receiver holds
    bool wide = false;                // file positions of 8 bytes: files of 2 GiB and more
    bool folders = false;             // the Receiver puts files in the folder their header names

    // Bytes of a file position in a payload of the data phase.
    qint32 OffsetBytes() const { return wide ? 8 : 4; }
    // File bytes one data block carries at most, after its position.
    qint32 LargestData() const { return largestPayload - OffsetBytes(); }

    static Capabilities Classic() { return {}; }
    // Unstuffed bytes the gatherer may hold for one block.
    qint32 ReceiveBufferSize() const { return extended ? largestPayload + DATA_BLOCK_OVERHEAD : RECEIVE_BUFFER_SIZE; }
};

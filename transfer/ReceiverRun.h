#pragma once
#include <QByteArray>
#include <QString>
#include <memory>

#include "Disk.h"

// The file a header announced, as the Receiver takes it; the restart file keeps it.
struct AnnouncedFile {
    QString name;
    QString folder;  // its relative folder ("a/b"); empty at the top
    qint64 size = 0;
    double date = 0;
    // "a/b/name", or the name alone at the top.
    QString RelativePath() const { return folder.isEmpty() ? name : folder + u'/' + name; }
};

// What only the Receiver knows of its run: the temp file it writes, and the
// facts beside the stage that decide which out-of-turn blocks it takes.
struct ReceiverRun {
    AnnouncedFile file;
    QString tempFile;
    // Open while a file moves: closed by Stop, an error, the end of the file,
    // or when the record goes.
    std::unique_ptr<DiskFile> receiving;
    // Set by a resumption after a port failure: the Sender may repeat the block
    // whose answer was lost with the port. Cleared by the next accepted block.
    bool repeatMayFollow = false;
    // The block accepted last, unstuffed, and the answer sent for it, so that
    // a repeat of it gets that answer again and is not written twice.
    QByteArray lastAccepted;
    QByteArray acceptedAnswer;
    // The file just finished went in the extended mode, so the next header may
    // skip numbers, and late blocks of that file are answered as taken.
    bool afterExtended = false;
    // The extended data phase knows its held bytes and their CRC.
    bool extendedReady = false;
    // Nothing was heard for the silence time before the block being gathered
    // began. A header numbered 1 inside a file then starts a new run.
    bool lineWasQuiet = false;

    // Back to the start of an activation, the temp file closed (its name stays
    // for the question whether it goes).
    void Reset()
    {
        receiving.reset();
        file.folder.clear();
        repeatMayFollow = false;
        lastAccepted.clear();
        acceptedAnswer.clear();
        afterExtended = false;
        extendedReady = false;
    }
};

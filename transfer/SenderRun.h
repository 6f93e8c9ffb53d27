#pragma once
#include <QString>
#include <memory>
#include <vector>

#include "Disk.h"

// Sender: whether the Receiver of this run takes files in folders, as its
// answers to the run's headers said.
enum class FolderTaking { Unknown, Taken, NotTaken };

// What only the Sender knows of its run: the files chosen, which one moves,
// and how far it got.
struct SenderRun {
    bool restart = false;               // "Restart a file": the one file continues
    std::vector<QString> filesToSend;   // names at 1 to upper bound; entry 0 unused
    // Relative paths ("a/b/name") in filesToSend; the folders that hold no
    // file, sent after the files, and how many of them went in this run.
    std::vector<QString> emptyFolders;
    qint32 emptyFoldersSent = 0;
    FolderTaking receiverFolders = FolderTaking::Unknown;
    qint32 fileIndex = 0;
    qint64 sendFileSize = 0;
    // Open while a file moves: closed by Stop, an error, the end of the file,
    // or when the record goes.
    std::unique_ptr<DiskFile> sending;
    qint64 sendPos = 0;  // classic mode: where the next block of the file starts
    // The last silence of the line was met with a request for the answer.
    bool silenceAsked = false;

    qint32 FilesToSendUpperBound() const { return filesToSend.empty() ? 0 : qint32(filesToSend.size()) - 1; }
    bool InRun() const { return fileIndex >= 1 && fileIndex <= FilesToSendUpperBound(); }
    // The relative path of the file now moving; empty between files.
    QString CurrentEntry() const { return InRun() ? filesToSend[size_t(fileIndex)] : QString(); }

    // Back to the start of an activation; the files chosen stay.
    void Reset()
    {
        sending.reset();
        sendPos = 0;
        fileIndex = 0;
        emptyFoldersSent = 0;
        receiverFolders = FolderTaking::Unknown;
        silenceAsked = false;
    }
};

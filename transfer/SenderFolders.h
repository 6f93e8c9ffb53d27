#pragma once
#include "ErrorReport.h"
#include "SenderRun.h"
#include "TransferContext.h"

// What the Sender does about folders: the checks before a run, the folder
// field of a header, what the answers say of the Receiver, and the headers of
// the empty folders, sent after every file. A file inside a folder never goes
// to a Receiver that takes none: it would land at the top.
class SenderFolders {
public:
    SenderFolders(TransferContext& c, ErrorReport& errors, SenderRun& run) : m_c(c), m_errors(errors), m_run(run) {}

    // A file inside a folder, or an empty folder: the run offers the folders flag.
    bool RunHasFolders() const;
    // The flags a header of this run offers: these, and folders where it holds them.
    quint32 WithFolders(quint32 flags) const;
    // Why the run's folders cannot go; empty when they can.
    QString Check() const;
    // "|folder" after the run's fields, where the folders flag is offered.
    QString FolderField(const QString& entry) const;

    // The answer to the header of entry said whether the Receiver takes
    // folders; false when entry lies in a folder it does not take (the run
    // has ended with error 18).
    bool Answered(bool taken, const QString& entry);
    // Before the header of entry: false when the run ended because the
    // Receiver is known to take no folders.
    bool MayGo(const QString& entry);
    // The Receiver holds the header of entry but its answer was lost: unless
    // folders are known to be taken, the header goes again for that answer.
    bool MustAskAgain(const QString& entry) const;

    bool EmptyFolderWaits() const;
    // The header of the next empty folder; false when the run ended instead.
    bool SendEmptyFolder();

private:
    // Error 18, after the first `sent` files of the run.
    void EndRun(qint32 sent);

    TransferContext& m_c;
    ErrorReport& m_errors;
    SenderRun& m_run;
};

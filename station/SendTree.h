#pragma once
#include <QString>
#include <QStringList>
#include <vector>

// The files and folders a Sender's choice names, in the order a run sends
// them, as relative paths ("a/b/name", "/" between components).
struct SendTree {
    std::vector<QString> files{QString()};  // entry 0 unused, as in the transfer record
    std::vector<QString> emptyFolders;      // folders in which no file goes
    QStringList skipped;                    // "'a/b' (a symbolic link)"
    QString refusal;                        // not empty: the run cannot go, and why

    // What the user is told of the skipped entries; empty when there are none.
    QString SkippedText() const;
};

// The names chosen in folder (entry 0 unused). A plain name is a file or a
// folder there; a folder goes with its whole tree under its own name, as
// "cp -r" puts it. A name with "/" (a file of a folder to restart) is taken
// as it is. Files at the top come first, then those of the folders, then the
// empty folders. Symbolic links and special files are skipped, never followed.
SendTree WalkSendList(const QString& folder, const std::vector<QString>& names);

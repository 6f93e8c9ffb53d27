#pragma once
#include <QByteArray>
#include <QString>
#include <memory>
#include <optional>

// A file a run holds open, closed when it goes. Reads and writes go at an
// offset; a failure leaves the system's reason in Failure().
class DiskFile {
public:
    virtual ~DiskFile() = default;
    virtual QString Path() const = 0;
    virtual qint64 Size() const = 0;
    // Up to n bytes from offset: fewer at the end of the file or on a failure.
    virtual QByteArray ReadAt(qint64 offset, qint64 n) = 0;
    // All n bytes at offset, or false.
    virtual bool WriteAt(qint64 offset, const char* bytes, qint64 n) = 0;
    virtual bool Resize(qint64 size) = 0;
    // Where data starts at or after offset: a sparse file's holes read as
    // zeros, and need not be read. offset itself where that is not known.
    virtual qint64 NextData(qint64 offset) const { return offset; }
    // Hands what was written to the disk itself.
    virtual bool Flush() = 0;
    // Why the last call failed ("No space left on device").
    virtual QString Failure() const = 0;
};

// What a path names, without following a symbolic link at its end.
struct FileFacts {
    bool exists = false;  // a file, or a link to one
    bool link = false;
    qint64 size = 0;      // of the file a link names, too
};

// The disk as the sessions use it; the station gives the real one. A temp
// file is never created or continued through a symbolic link.
class Disk {
public:
    virtual ~Disk() = default;
    virtual std::unique_ptr<DiskFile> OpenToRead(const QString& path, QString* why) = 0;
    virtual FileFacts Look(const QString& path) const = 0;
    // Its modification time as a date number; 0 when it has none.
    virtual double ModifiedDate(const QString& path) const = 0;
    virtual bool Remove(const QString& path) = 0;
    // A small file whole (the restart file): read, or written through to the
    // disk (nothing is left of a write that failed).
    virtual std::optional<QByteArray> ReadWhole(const QString& path) = 0;
    virtual bool WriteWhole(const QString& path, const QByteArray& bytes) = 0;
    // Received files live in a relative folder of the receive folder root
    // ("a/b", empty for root itself). These go down to it one component at a
    // time and never through a symbolic link, so nothing outside root is
    // written even where a link sits inside it.
    // Makes the folder and every missing one above it.
    virtual bool MakeFolders(const QString& root, const QString& folder, QString* why) = 0;
    // Inside that folder, which must exist: a new, empty temp file (an older
    // file or link of that name goes first); an existing one to go on with;
    // and from put in the place of to in one step (never a moment with neither).
    virtual std::unique_ptr<DiskFile> CreateTempIn(const QString& root, const QString& folder, const QString& name,
                                                   QString* why) = 0;
    virtual std::unique_ptr<DiskFile> OpenTempIn(const QString& root, const QString& folder, const QString& name,
                                                 QString* why) = 0;
    virtual bool RenameIn(const QString& root, const QString& folder, const QString& from, const QString& to,
                          QString* why) = 0;
    // Gives a received file the sender's date; false when it could not.
    virtual bool SetModifiedDate(const QString& path, double date) = 0;
    // Why dates cannot be set here, for the message that says some were not;
    // empty when they can.
    virtual QString DatesUnavailable() const = 0;
};

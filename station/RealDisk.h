#pragma once
#include "Disk.h"
#include <QStringList>
#include <functional>

// The local disk, through Qt, with qrnstamp to date received files.
class RealDisk : public Disk {
public:
    std::unique_ptr<DiskFile> OpenToRead(const QString& path, QString* why) override;
    FileFacts Look(const QString& path) const override;
    double ModifiedDate(const QString& path) const override;
    bool Remove(const QString& path) override;
    std::optional<QByteArray> ReadWhole(const QString& path) override;
    bool WriteWhole(const QString& path, const QByteArray& bytes) override;
    bool MakeFolders(const QString& root, const QString& folder, QString* why) override;
    std::unique_ptr<DiskFile> CreateTempIn(const QString& root, const QString& folder, const QString& name,
                                           QString* why) override;
    std::unique_ptr<DiskFile> OpenTempIn(const QString& root, const QString& folder, const QString& name,
                                         QString* why) override;
    bool RenameIn(const QString& root, const QString& folder, const QString& from, const QString& to,
                  QString* why) override;
    bool SetModifiedDate(const QString& path, double date) override;
    QString DatesUnavailable() const override;

    // Finds qrnstamp beside the program or where the package installs it.
    void UseQrnstampFrom(const QString& programFolder);
    QString Qrnstamp() const { return m_qrnstamp; }

    // Starts a program without waiting for it; false when it could not be
    // started. Tests put their own here.
    std::function<bool(const QString& program, const QStringList& args)> startDetached;

private:
    // By path, where there are no calls relative to a folder (not POSIX).
    static std::unique_ptr<DiskFile> CreateTemp(const QString& path, QString* why);
    static std::unique_ptr<DiskFile> OpenTemp(const QString& path, QString* why);
    static bool Rename(const QString& from, const QString& to, QString* why);

    QString m_qrnstamp;
    QStringList m_qrnstampLookedIn;  // folders searched, for the message when it is missing
};

#pragma once
// A folder tree to send: nested and empty folders, names with blanks and
// letters beyond ASCII, every file dated; and its listing, to compare trees.
#include "TestFiles.h"
#include <QDir>
#include <QDirIterator>
#include <QMap>

inline const QDateTime kTreeStamp(QDate(2019, 11, 12), QTime(13, 14, 15));

// "top.txt" beside the folder "photos"; returns the names to send.
inline QStringList MakeTree(const QString& root)
{
    const QString photos = QDir(root).filePath("photos");
    for (const char* folder : {"2024/März", "Fotos für Oma", "empty", "only/empty too"})
        QDir(photos).mkpath(QString::fromUtf8(folder));
    const std::vector<std::pair<const char*, QByteArray>> files = {
        {"top.txt", "at the top\n"},
        {"photos/x.jpg", RandomBytes(40000, 11)},
        {"photos/2024/y 1.jpg", RandomBytes(3000, 12)},
        {"photos/2024/März/zero.txt", {}},
        {"photos/Fotos für Oma/crème brûlée.txt", "café\n"},
    };
    for (const auto& [path, content] : files)
        WriteFile(QDir(root).filePath(QString::fromUtf8(path)), content, kTreeStamp);
    return {"top.txt", "photos"};
}

// Every folder ("a/") and file ("a/b: size") under root, sorted, each file's
// content hashed in: two equal listings are two equal trees.
inline QStringList TreeListing(const QString& root)
{
    QStringList out;
    QDirIterator it(root, QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QFileInfo info = it.nextFileInfo();
        const QString rel = QDir(root).relativeFilePath(info.filePath());
        out << (info.isDir() ? rel + u'/' : rel + QStringLiteral(": ") + QString::number(qHash(ReadFile(info.filePath()))));
    }
    out.sort();
    return out;
}

// Files under root whose modified time is not kTreeStamp.
inline QStringList Undated(const QString& root)
{
    QStringList out;
    QDirIterator it(root, QDir::Files, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QFileInfo info = it.nextFileInfo();
        if (info.lastModified().toSecsSinceEpoch() != kTreeStamp.toSecsSinceEpoch())
            out << info.filePath();
    }
    return out;
}

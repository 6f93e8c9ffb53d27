#pragma once
#include <QByteArray>
#include <QDateTime>
#include <QFile>
#include <QRandomGenerator>
#include <gtest/gtest.h>

// Files for transfer tests: random content, written with an optional modified time.
inline QByteArray RandomBytes(qsizetype n, quint32 seed)
{
    QRandomGenerator rng(seed);
    QByteArray b(n, '\0');
    for (char& c : b)
        c = char(rng.bounded(256));
    return b;
}

inline void WriteFile(const QString& path, const QByteArray& content, const QDateTime& mtime = {})
{
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly)) << path.toStdString();
    f.write(content);
    f.flush();
    if (mtime.isValid()) {
        ASSERT_TRUE(f.setFileTime(mtime, QFileDevice::FileModificationTime));
    }
}

inline QByteArray ReadFile(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
}

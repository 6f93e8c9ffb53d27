#pragma once
#include <QDateTime>
#include <QString>

// The few file-system operations the program uses, on local paths.

// True for a path separator of this platform ("/" on Unix, "\" and "/" on Windows).
bool IsPathSeparator(QChar c);

// Joins folder and name, inserting a separator only where the folder lacks one.
QString BuildPath(const QString& folder, const QString& name);
bool FileExists(const QString& path);
bool FolderExists(const QString& path);
// Parent folder without a trailing separator, except at a root ("/" or "C:\").
QString GetParentFolderName(const QString& path);
QString GetFileName(const QString& path);
QDateTime DateLastModified(const QString& path);

class QFile;
class QFileDevice;
// Flushes Qt's buffer and the system's cache of an open file to the disk.
bool FlushToDisk(QFile& file);
// The system's reason for the operation on the file that just failed ("No
// space left on device"), where Qt has none of its own to give.
QString FileFailure(const QFileDevice& file);

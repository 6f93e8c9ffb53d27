#pragma once
#include <QFile>
#include <memory>

// A file one part of the program holds open: closed on Close or when its
// owner goes, and File() is there only while it is open.
class OpenFile {
public:
    // Opens path, closing what was open before; on failure says why.
    bool Open(const QString& path, QIODevice::OpenMode mode, QString* why = nullptr);
    bool IsOpen() const { return m_file != nullptr; }
    QFile& File() { return *m_file; }
    // Closing a file that is not open does nothing.
    void Close();

private:
    std::unique_ptr<QFile> m_file;
};

#include "OpenFile.h"

bool OpenFile::Open(const QString& path, QIODevice::OpenMode mode, QString* why)
{
    Close();
    auto file = std::make_unique<QFile>(path);
    if (!file->open(mode)) {
        if (why)
            *why = file->errorString();
        return false;
    }
    m_file = std::move(file);
    return true;
}

void OpenFile::Close()
{
    if (!m_file)
        return;
    m_file->close();
    m_file.reset();
}

#include "NumberedFiles.h"

bool NumberedFiles::Open(int n, const QString& path, QIODevice::OpenMode mode, QString* why)
{
    CloseFileIfOpen(n);
    auto file = std::make_unique<QFile>(path);
    if (!file->open(mode)) {
        if (why)
            *why = file->errorString();
        return false;
    }
    m_files[n] = std::move(file);
    return true;
}

bool NumberedFiles::IsOpen(int n) const
{
    return n >= 0 && n < kCount && m_files[n] != nullptr;
}

QFile& NumberedFiles::File(int n)
{
    return *m_files[n];
}

void NumberedFiles::CloseFileIfOpen(int n)
{
    if (!IsOpen(n))
        return;
    m_files[n]->close();
    m_files[n].reset();
}

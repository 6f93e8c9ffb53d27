#pragma once
#include <QFile>
#include <array>
#include <memory>

// The program's open files under fixed small numbers (1 settings, 2 temp file,
// 3 file being sent, 4 restart file, 99 debug log). The flag of a number tells
// whether it is in use; a file is only ever closed through CloseFileIfOpen.
class NumberedFiles {
public:
    static constexpr int kCount = 100;

    // Opens path under number n; sets the flag only on success.
    bool Open(int n, const QString& path, QIODevice::OpenMode mode, QString* why = nullptr);
    bool IsOpen(int n) const;
    QFile& File(int n);
    void CloseFileIfOpen(int n);

private:
    std::array<std::unique_ptr<QFile>, kCount> m_files;
};

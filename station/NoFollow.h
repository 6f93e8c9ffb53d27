#pragma once
#include <QString>

// The folders of the receive folder, reached with openat and friends one
// component at a time: a symbolic link (or a file) where a folder should be
// stops the walk, so nothing is ever created or opened outside the receive
// folder. POSIX only.
namespace NoFollow {

// An open folder; closed when it goes.
class Folder {
public:
    Folder() = default;
    explicit Folder(int fd) : m_fd(fd) {}
    Folder(Folder&& other) noexcept : m_fd(other.m_fd) { other.m_fd = -1; }
    Folder& operator=(Folder&& other) noexcept;
    Folder(const Folder&) = delete;
    Folder& operator=(const Folder&) = delete;
    ~Folder();
    bool IsOpen() const { return m_fd >= 0; }
    int Fd() const { return m_fd; }

private:
    int m_fd = -1;
};

// root (followed like any path given by the user), then each "/"-separated
// component of folder, never through a link; with create the missing ones are
// made. Not open, with the reason in why, when that cannot be done.
Folder Open(const QString& root, const QString& folder, bool create, QString* why);
// A new, empty file of that name in the folder: an older file or link of the
// name is removed first. The descriptor, or -1 with the reason.
int CreateFile(const Folder& in, const QString& name, QString* why);
// An existing plain file of that name, for reading and writing; never a link.
int OpenFile(const Folder& in, const QString& name, QString* why);
bool Rename(const Folder& in, const QString& from, const QString& to, QString* why);

}  // namespace NoFollow

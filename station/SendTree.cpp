#include "SendTree.h"
#include "Fso.h"
#include <QFile>
#include <algorithm>
#include <filesystem>
#include <system_error>

namespace fs = std::filesystem;

namespace {
constexpr int kSkippedShown = 20;

fs::path ToPath(const QString& path)
{
#ifdef Q_OS_WIN
    return fs::path(path.toStdWString());
#else
    return fs::path(QFile::encodeName(path).toStdString());
#endif
}

QString NameOf(const fs::path& path)
{
#ifdef Q_OS_WIN
    return QString::fromStdWString(path.filename().native());
#else
    return QFile::decodeName(QByteArray::fromStdString(path.filename().native()));
#endif
}

class Walker {
public:
    explicit Walker(const QString& root) : m_root(root) {}

    // One name chosen at the top: a file, a folder, or something skipped.
    void Chosen(const QString& name, std::vector<QString>& folders)
    {
        std::error_code ec;
        const fs::file_status st = fs::symlink_status(ToPath(BuildPath(m_root, name)), ec);
        if (fs::is_directory(st) && !name.contains(u'/'))
            folders.push_back(name);
        else if (!Skipped(name, st))
            tree.files.push_back(name);  // a file, or one gone: opening it says so
    }

    // Every file under the folder, then its empty folders; false when it cannot be read.
    bool Folder(const QString& relative)
    {
        std::vector<std::pair<QString, fs::file_status>> entries;
        std::error_code ec;
        const fs::path here = ToPath(BuildPath(m_root, relative));
        for (fs::directory_iterator it(here, ec), end; !ec && it != end; it.increment(ec)) {
            std::error_code stEc;
            entries.emplace_back(NameOf(it->path()), it->symlink_status(stEc));
        }
        if (ec) {
            tree.refusal = QStringLiteral("Cannot send '%1': the folder cannot be read (%2)")
                               .arg(relative, QString::fromLocal8Bit(ec.message()));
            return false;
        }
        std::sort(entries.begin(), entries.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
        const size_t filesBefore = tree.files.size(), foldersBefore = tree.emptyFolders.size();
        std::vector<QString> subfolders;
        for (const auto& [name, st] : entries) {
            const QString path = relative + u'/' + name;
            if (fs::is_directory(st))
                subfolders.push_back(path);
            else if (!Skipped(path, st))
                tree.files.push_back(path);
        }
        for (const QString& sub : subfolders)
            if (!Folder(sub))
                return false;
        if (tree.files.size() == filesBefore && tree.emptyFolders.size() == foldersBefore)
            tree.emptyFolders.push_back(relative);
        return true;
    }

    SendTree tree;

private:
    bool Skipped(const QString& path, const fs::file_status& st)
    {
        if (fs::is_symlink(st))
            tree.skipped << QStringLiteral("'%1' (a symbolic link)").arg(path);
        else if (fs::exists(st) && !fs::is_regular_file(st))
            tree.skipped << QStringLiteral("'%1' (a special file)").arg(path);
        else
            return false;
        return true;
    }

    QString m_root;
};
}  // namespace

QString SendTree::SkippedText() const
{
    if (skipped.isEmpty())
        return {};
    QString text = QStringLiteral("Skipped, never followed: ")
                   + skipped.mid(0, kSkippedShown).join(QStringLiteral(", "));
    if (skipped.size() > kSkippedShown)
        text += QStringLiteral(" and %1 more").arg(skipped.size() - kSkippedShown);
    return text;
}

SendTree WalkSendList(const QString& folder, const std::vector<QString>& names)
{
    Walker w(folder);
    std::vector<QString> folders;
    for (size_t i = 1; i < names.size(); ++i)
        if (!names[i].isEmpty())  // the root folder has no name to go under
            w.Chosen(names[i], folders);
    // Files at the top go first: a Receiver that takes no folders has them before the run ends.
    for (const QString& f : folders)
        if (!w.Folder(f))
            return w.tree;
    SendTree& t = w.tree;
    if (t.files.size() > 1)
        return t;
    if (!t.emptyFolders.empty())
        t.refusal = QStringLiteral("Cannot send '%1': it holds no file, and a folder goes only along with a file")
                        .arg(t.emptyFolders.front());
    else
        t.refusal = QStringLiteral("Nothing to send: everything chosen was skipped");
    return t;
}

#include "RelativeFolder.h"

namespace RelativeFolder {

bool ComponentOk(const QString& c)
{
    if (c.isEmpty() || c == u"." || c == u"..")
        return false;
    // "C:" would name a drive on a Windows receiver.
    if (c.size() >= 2 && c[1] == u':' && c[0].isLetter())
        return false;
    for (QChar ch : c)
        if (ch.unicode() < 0x20 || ch.unicode() == 0x7f || ch == u'/' || ch == u'\\')
            return false;
#ifdef Q_OS_WIN
    if (c.contains(u':'))
        return false;
#endif
    return true;
}

bool Valid(const QString& folder)
{
    if (folder.isEmpty())
        return true;
    for (const QString& c : folder.split(u'/'))
        if (!ComponentOk(c))
            return false;
    return true;
}

QString FolderOf(const QString& relativePath)
{
    const qsizetype cut = relativePath.lastIndexOf(u'/');
    return cut < 0 ? QString() : relativePath.left(cut);
}

QString NameOf(const QString& relativePath)
{
    return relativePath.mid(relativePath.lastIndexOf(u'/') + 1);
}

QString Join(const QString& folder, const QString& name)
{
    return folder.isEmpty() ? name : folder + u'/' + name;
}

}  // namespace RelativeFolder

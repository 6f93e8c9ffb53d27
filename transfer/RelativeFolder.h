#pragma once
#include <QString>
#include <QStringList>

// A file's folder relative to the top of its run: components joined by "/",
// empty for a file at the top. A received one is taken only when every
// component could be a received name of its own, so it can never lead out of
// the receive folder.
namespace RelativeFolder {

// As a received name is checked, and stricter: not empty, ".", "..", a drive
// ("C:"), no control character, no "/" or "\" inside it.
bool ComponentOk(const QString& component);
// Empty (the top), or components that are all ComponentOk.
bool Valid(const QString& folder);
// "a/b" of "a/b/name"; empty for a plain name.
QString FolderOf(const QString& relativePath);
// "name" of "a/b/name".
QString NameOf(const QString& relativePath);
// folder and name joined by "/"; just name at the top.
QString Join(const QString& folder, const QString& name);

}  // namespace RelativeFolder

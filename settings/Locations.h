#pragma once
#include <QString>
#include <QStringList>

// Where the program keeps what it writes and finds what it starts.

// The folder of qrn.ini, the restart file and the COMn links. A portable copy
// keeps them beside the program: when that folder already holds a qrn.ini, or
// may be written. Otherwise (an installed program) they live in the user's
// configuration folder, ~/.config/Velotrax on Linux, made when first needed.
//
// A folder without any write bit counts as read-only even for root, who could
// write there anyway; the folder the package installs the programs into is
// never taken as portable unless it holds a qrn.ini.
QString SettingsFolder(const QString& programFolder);

// The folder of the restart file: SettingsFolder, unless this user may not
// write there (a portable copy whose folder is read-only yet holds qrn.ini);
// then the user's configuration folder, so an automatic restart still works.
QString RestartFolder(const QString& programFolder);

// Folders searched for qrnstamp, in order: beside the program, then where the
// package installs it.
QStringList QrnstampFolders(const QString& programFolder);

// The first qrnstamp found in QrnstampFolders; empty when there is none.
QString FindQrnstamp(const QString& programFolder);

// The help page beside the program, else where the package installs it; the
// one beside the program when there is none at all.
QString FindHelpFile(const QString& programFolder);

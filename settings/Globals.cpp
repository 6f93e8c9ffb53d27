#include "Globals.h"
#include "Locations.h"

QString Globals::SettingsDir() const
{
    return SettingsFolder(programDir);
}

QString Globals::RestartDir() const
{
    return RestartFolder(programDir);
}


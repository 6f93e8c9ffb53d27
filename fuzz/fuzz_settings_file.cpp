// Any content of qrn.ini.
#include "SettingsFile.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    Globals g;
    ParseSettingsFile(QByteArray(reinterpret_cast<const char*>(data), qsizetype(size)), g);
    return 0;
}

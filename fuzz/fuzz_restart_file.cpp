// Any content of the restart file a broken reception leaves beside the program.
#include "RestartFile.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    TransferState s;
    AnnouncedFile f;
    ParseRestartFile(QByteArray(reinterpret_cast<const char*>(data), qsizetype(size)), s, f);
    // What was read must write back and read again to the same values.
    TransferState again;
    AnnouncedFile againFile;
    ParseRestartFile(RestartFileContent(s, f), again, againFile);
    if (again.FileReceivingPos != s.FileReceivingPos || againFile.size != f.size
        || again.lastSequenceNr != s.lastSequenceNr)
        __builtin_trap();
    return 0;
}

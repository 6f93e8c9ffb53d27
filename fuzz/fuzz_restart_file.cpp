// Any content of the restart file a broken reception leaves beside the program.
#include "RestartFile.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    TransferState s;
    ParseRestartFile(QByteArray(reinterpret_cast<const char*>(data), qsizetype(size)), s);
    // What was read must write back and read again to the same values.
    TransferState again;
    ParseRestartFile(RestartFileContent(s), again);
    if (again.FileReceivingPos != s.FileReceivingPos || again.fileSize != s.fileSize
        || again.lastSequenceNr != s.lastSequenceNr)
        __builtin_trap();
    return 0;
}

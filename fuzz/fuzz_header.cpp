// A header block's payload, read the way the Receiver reads "size|date|name".
#include "CommonRoutines.h"
#include "FrameTransmitter.h"
#include "ReceiverSide.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QString text = FrameTransmitter::BytesToString(QByteArrayView(data, qsizetype(size)));
    TextArray fields(11);
    SplitFields(fields, false, text, QStringLiteral("|"));
    ValLong(fields[1]);
    ValDouble(fields[2]);
    const QString name = ReceiverSide::SafeFileName(fields[3]);
    // Whatever comes back must be a plain name inside the receive folder.
    if (name == u"." || name == u".." || name.contains(u'/') || name.contains(u'\\'))
        __builtin_trap();
    for (QChar c : name)
        if (c.unicode() < 0x20 || c.unicode() == 0x7f)
            __builtin_trap();
    return 0;
}

// A header block's payload, read the way the Receiver reads "size|date|name".
#include "CommonRoutines.h"
#include "FrameTransmitter.h"
#include "ReceiverSide.h"
#include "RelativeFolder.h"

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
    // A folder taken is a path below the receive folder, whatever the field held.
    const QString folder = fields[10];
    if (RelativeFolder::Valid(folder) && !folder.isEmpty()) {
        if (folder.startsWith(u'/') || folder.contains(u'\\'))
            __builtin_trap();
        for (const QString& c : folder.split(u'/'))
            if (c.isEmpty() || c == u"." || c == u".." || (c.size() >= 2 && c[0].isLetter() && c[1] == u':'))
                __builtin_trap();
    }
    return 0;
}

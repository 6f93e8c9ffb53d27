#pragma once
#include "ErrorReport.h"
#include "ExtendedReceiver.h"
#include "ReceiverRepeats.h"
#include "TransferContext.h"
#include <QStringList>
#include <functional>

// The fields of a file header "size|date|name".
struct FileHeader {
    qint64 size = 0;
    QString sizeText;      // as it came
    bool sizeFits = false; // a plain number of bytes the offer's positions can address
    double date = 0;
    QString name;          // reduced to a plain file name; empty when refused
    QString receivedName;  // as it came
    quint32 offer = 0;     // extended-mode flags offered in the fields after the name
    RunTotals run;         // told after the offer by a Velotrax Sender
};
enum class HeaderKind { File, End, Malformed };

// What the Receiver does with a good block: temp file, data, rename, file date, "END".
class ReceiverSide {
public:
    ReceiverSide(TransferContext& c, ErrorReport& errors)
        : m_c(c), m_errors(errors), m_repeats(c), m_extended(c, errors) {}

    void HandleBlock(const Block& b);
    bool TakeOutOfTurn(const Block& b) { return m_repeats.TakeOutOfTurn(b); }
    // A block of the extended data phase failed its tests.
    void RefuseExtended(qint32 nr) { m_extended.Refuse(nr); }
    // The Sender pressed Stop.
    void HandleStop();

    // Where the file of the name given is gathered until it is complete.
    static QString TempFilePath(const QString& receivePath, const QString& name);

    // Reduces a received name to a plain file name inside the receive path;
    // empty when it cannot be one (empty, ".", "..", control characters).
    static QString SafeFileName(const QString& received);
    static HeaderKind ParseHeader(const QString& text, FileHeader& header);
    // The largest file a header with these offered flags may announce.
    static qint64 LargestSize(quint32 offer);

private:
    void HandleHeader(const Block& b);
    void NewFile();
    void RestartFile(const Block& b, const Capabilities& caps);
    // Answers the header with the acceptance; the data phase starts from the held bytes.
    void AcceptExtended(const Block& b, const Capabilities& caps);
    void ExtendedData(const Block& b);
    void Data(const Block& b);
    void EndOfFile(const Block& b);
    // Flush, rename, date; false when the file could not be completed (said so).
    bool FinishFile();
    void EndOfTransfer();
    void AnswerOk(const Block& b);
    void CreateFailed(const QString& why);
    void SetModifiedDate(const QString& target);

    TransferContext& m_c;
    ErrorReport& m_errors;
    ReceiverRepeats m_repeats;
    ExtendedReceiver m_extended;
};

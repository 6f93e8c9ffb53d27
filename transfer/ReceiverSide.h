#pragma once
#include "ErrorReport.h"
#include "ReceiverRepeats.h"
#include "TransferContext.h"
#include <QStringList>
#include <functional>

// The fields of a file header "size|date|name".
struct FileHeader {
    qint32 size = 0;
    double date = 0;
    QString name;          // reduced to a plain file name; empty when refused
    QString receivedName;  // as it came
};
enum class HeaderKind { File, End, Malformed };

// What the Receiver does with a good block: temp file, data, rename, file date, "END".
class ReceiverSide {
public:
    ReceiverSide(TransferContext& c, ErrorReport& errors) : m_c(c), m_errors(errors), m_repeats(c) {}

    void HandleBlock(const ReceivedBlock& b);
    bool TakeOutOfTurn(const ReceivedBlock& b) { return m_repeats.TakeOutOfTurn(b); }
    // The Sender pressed Stop.
    void HandleStop();

    QString MakeTempFileName(const QString& name) const { return TempFilePath(m_c.g, name); }
    // Where the file of the name given is gathered until it is complete.
    static QString TempFilePath(const Globals& g, const QString& name);

    // Reduces a received name to a plain file name inside the receive path;
    // empty when it cannot be one (empty, ".", "..", control characters).
    static QString SafeFileName(const QString& received);
    static HeaderKind ParseHeader(const QString& text, FileHeader& header);

    // Starts a program without waiting for it; false when it could not be started.
    std::function<bool(const QString& program, const QStringList& args)> startDetached;

private:
    void HandleHeader(const ReceivedBlock& b);
    void NewFile();
    void RestartFile(const ReceivedBlock& b);
    void Data(const ReceivedBlock& b);
    void EndOfFile(const ReceivedBlock& b);
    void EndOfTransfer();
    void AnswerOk(const ReceivedBlock& b);
    void CreateFailed();
    void SetModifiedDate(const QString& target);

    TransferContext& m_c;
    ErrorReport& m_errors;
    ReceiverRepeats m_repeats;
};

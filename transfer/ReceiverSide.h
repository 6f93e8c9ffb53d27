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
    QString folder;        // the field after the run, offered with the folders flag: the file's relative folder
};
// Folder: the name "." with the folders flag offered, the folder field's folder itself (an empty one).
enum class HeaderKind { File, End, Malformed, Folder };

// What the Receiver does with a good block: temp file, data, rename, file date, "END".
class ReceiverSide {
public:
    ReceiverSide(TransferContext& c, ErrorReport& errors)
        : m_c(c), m_errors(errors), m_resumption(c, m_run), m_repeats(c, m_run, m_resumption),
          m_extended(c, errors, m_run) {}

    // Back to the start of an activation, the temp file closed.
    void ResetRun() { m_run.Reset(); }
    const ReceiverRun& Run() const { return m_run; }
    // Tests bend the run into states no sound file or peer produces.
    ReceiverRun& RunForTesting() { return m_run; }
    // The temp file of the file that moves closes (its name stays known).
    void CloseTempFile() { m_run.receiving.reset(); }

    // The facts the acceptance tests of a block depend on.
    bool AfterExtended() const { return m_run.afterExtended; }
    bool AwaitsLostBlock() const { return m_run.repeatMayFollow; }
    // A good block ends the wait for the one lost with the port.
    void TookGoodBlock() { m_run.repeatMayFollow = false; }
    // Bytes arrive after the line was silent for silentMs (-1: nothing was
    // heard before). A block that begins with them begins after a quiet line
    // when that silence lasted the Receiver's silence time.
    void BytesArrive(qint64 silentMs);

    // The port failed inside a file: the restart file written, the temp file
    // closed; false when that could not be done (said so).
    bool PrepareResumption() { return m_resumption.Prepare(); }
    // The port is back (or this is a new instance): the reception the restart
    // file describes goes on, if there is one.
    Resumption::Result Resume(const std::function<void()>& endProgram) { return m_resumption.Resume(endProgram); }

    void HandleBlock(const Block& b);
    bool TakeOutOfTurn(const Block& b) { return m_repeats.TakeOutOfTurn(b); }
    // A block of the extended data phase failed its tests.
    void RefuseExtended(qint32 nr) { m_extended.Refuse(nr); }
    // The Sender pressed Stop.
    void HandleStop();

    // Where the file of the name given is gathered until it is complete: "_" + name + ".tmp" in its folder.
    static QString TempFilePath(const QString& receivePath, const QString& name);
    static QString TempFilePath(const QString& receivePath, const QString& folder, const QString& name);
    static QString TempName(const QString& name);

    // Reduces a received name to a plain file name inside the receive path;
    // empty when it cannot be one (empty, ".", "..", control characters).
    static QString SafeFileName(const QString& received);
    static HeaderKind ParseHeader(const QString& text, FileHeader& header);
    // The largest file a header with these offered flags may announce.
    static qint64 LargestSize(quint32 offer);

private:
    void HandleHeader(const Block& b);
    // A header this side cannot take: its name or folder would leave the receive path.
    void RefuseHeader(const QString& what);
    // The folder field of an accepted header is checked; false when it was refused.
    bool TakeFolderField(HeaderKind kind, FileHeader& h);
    // The header of an empty folder: made, and answered as a file header is.
    void MakeFolder(const Block& b, const QString& folder);
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
    ReceiverRun m_run;  // before the parts that hold it
    Resumption m_resumption;
    ReceiverRepeats m_repeats;
    ExtendedReceiver m_extended;
};

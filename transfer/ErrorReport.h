#pragma once
#include "TransferContext.h"
#include <functional>

// "Error writing file '…': <the system's reason>; it keeps N bytes for
// 'Restart a file'", for a temp file that could not take a block.
QString TempWriteFailedText(const QString& path, const DiskFile& file);

// Stops a transfer on both sides: shows the numbered error here and tells the other side.
class ErrorReport {
public:
    explicit ErrorReport(TransferContext& c) : m_c(c) {}
    void ReportLocalError(qint32 nr);
    void ReportRemoteError(qint32 nr);
    // Counts one more resend of the Sender (a block, a request for an answer);
    // past the tenth the run ends with error 10, after the debug line
    // givingUp (if any), and this is false.
    bool OneMoreResend(const QString& givingUp = {});

    // Told first of every numbered error that ends a transfer; local = found on this side.
    std::function<void(qint32 nr, bool local)> onError;

private:
    TransferContext& m_c;
};

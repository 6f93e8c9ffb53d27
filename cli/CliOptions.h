#pragma once
#include <QString>
#include <QStringList>
#include <vector>

struct CliCommand;

// What the command line asks for, checked before any port is touched.
struct CliOptions {
    const CliCommand* command = nullptr;
    bool help = false;
    bool version = false;

    // The line.
    QString device;          // --port: an explicit device path; empty = --com
    qint32 comPort = 1;      // --com N, mapped like the desktop program's port number
    qint32 speed = 115200;
    qint32 waitMs = 2;       // pause before every write
    bool stdio = false;      // the line is standard input and output
    bool classic = false;    // never offer or accept the extended mode
    bool compress = true;    // compress in the extended mode
    bool reference = true;   // ... against the file bytes before each block
    qint32 reopenTimeoutMs = 60000;  // how long a port that failed inside a file is waited for

    // The debug log.
    QString logFile;         // empty = no log
    qint32 logLevel = 0;

    bool progress = false;   // progress line even when standard error is no terminal
    bool quiet = false;      // no progress line at all
    bool verbose = false;    // also the activity line's texts

    // send
    bool restart = false;    // continue one file whose temp file the receiver kept
    QString from;            // --from: the folder the broken run was sent from (absolute); empty = none
    qint32 retries = 5;      // answers OK to the "no listener" question this often, then Cancel
    QStringList files;       // absolute paths of files and folders, all in one folder

    // receive
    bool once = false;       // end after one run
    bool deleteTemp = false; // answer Yes to deleting the temp file after a Stop
    qint32 idleTimeoutMs = 300000;   // how long a Sender may be silent inside a file
    QString receiveDir;      // absolute

    QString CommandName() const;
    bool IsSender() const { return CommandName() == u"send"; }
    // The file choice in the form the sender side takes: one full path, or the
    // folder and the names separated by NUL characters; a file restarted
    // --from a folder is named by its path relative to that folder.
    QString FileDialogResult() const;
};

// One subcommand: the options it takes besides --help and --version, how it
// reads its operands into the options (an error text, or empty), and what it runs.
struct CliCommand {
    QString name;
    QStringList options;  // long names
    QString (*takeOperands)(const QStringList& operands, CliOptions& o);
    int (*run)(const CliOptions& o);
};

// Every subcommand; velotrax-cli NAME dispatches to the entry of that name.
const std::vector<CliCommand>& CliCommands();

struct CliParseResult {
    CliOptions options;
    QString error;  // not empty: bad usage, with this message
    bool Ok() const { return error.isEmpty(); }
};

// args without the program name. Also checks that the files to send exist.
CliParseResult ParseCommandLine(const QStringList& args);

QString UsageText();
QString VersionText();

// Exit statuses of the program.
namespace CliExit {
constexpr int Ok = 0;
constexpr int Failed = 1;        // ended without a numbered error, e.g. the port could not be opened
constexpr int Usage = 2;
constexpr int OtherStopped = 3;  // the other side pressed Stop
// 4 to 18: the numbered error that ended the transfer.
constexpr int SenderSilent = 124;  // receive: the Sender fell silent inside a file (--idle-timeout)
constexpr int Interrupted = 130;
}

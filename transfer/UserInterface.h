#pragma once
#include <QString>
#include <functional>

enum class MsgIcon { Critical, Exclamation, Information };
enum class MsgButtons { Ok, OkCancel, YesNo };
enum class MsgAnswer { Ok, Cancel, Yes, No };

// The questions a run puts to the user.
enum class Question {
    DeleteTempFile,  // Yes/No: the temp file of a file left unfinished by a Stop
    NoListener,      // OK/Cancel: nobody answered the first header; OK sends the files again
};
inline MsgButtons ButtonsOf(Question q)
{
    return q == Question::DeleteTempFile ? MsgButtons::YesNo : MsgButtons::OkCancel;
}

// How a run ended, so a front end need not read it from the texts shown.
struct RunOutcome {
    enum class Kind {
        FilesDone,   // every file of the run arrived (files: how many)
        Error,       // a numbered error ended it (errorNr, raisedBy)
        Stopped,     // Stop was pressed (raisedBy)
        PortFailed,  // the port could not be opened or closed, or a broken reception could not resume
        NoListener,  // the sender gave up waiting for a receiver
        Refused,     // it never started: no receive folder, no files, files that cannot be sent
    };
    enum class Side { Here, Other };

    Kind kind = Kind::Refused;
    qint32 files = 0;
    qint32 errorNr = 0;
    Side raisedBy = Side::Here;

    static RunOutcome Done(qint32 files) { return {Kind::FilesDone, files, 0, Side::Here}; }
    static RunOutcome Failed(qint32 nr, Side by) { return {Kind::Error, 0, nr, by}; }
    static RunOutcome StoppedBy(Side by) { return {Kind::Stopped, 0, 0, by}; }
    static RunOutcome Of(Kind kind) { return {kind, 0, 0, Side::Here}; }
    bool operator==(const RunOutcome&) const = default;
};

// Everything the core needs from the window (or a console, or a test recorder).
class UserInterface {
public:
    virtual ~UserInterface() = default;

    virtual void SetStatus1(const QString& text) = 0;
    virtual void SetStatus2(const QString& text) = 0;
    virtual QString Status1() const = 0;
    virtual QString Status2() const = 0;
    // Percentage of the current file, 0 to 100.
    virtual void SetProgress(float percent) = 0;
    // A box that asks nothing, with the program's title. It never waits for
    // the user: the rule that raised it goes on (its run has mostly ended).
    virtual void Alert(const QString& text, MsgIcon icon) = 0;
    // A question for the user. The answer comes back later as a command,
    // reply(true) for Yes or OK; the station puts the question only once the
    // rule that raised it has returned, and no rule runs until it is answered.
    virtual void Ask(Question question, const QString& text, std::function<void(bool yes)> reply) = 0;
    // Something the user should know that needs no answer (a file left
    // unfinished, say); it must not stop the run.
    virtual void Notice(const QString& text) { SetStatus2(text); }
    // Told once at every end of a run, after the texts that show it.
    virtual void RunEnded(const RunOutcome&) {}
    // Refreshes enabled states and captions from the port state and the selected role.
    virtual void UpdateControls(bool portOpen) = 0;

    // The open-file dialog at Sender activation. title empty = the dialog's own.
    // Returns false when cancelled; dialogResult is one full path, or the
    // folder followed by the names, separated by NUL characters.
    virtual bool ChooseFilesToSend(const QString& title, bool multiSelect, const QString& initialFolder,
                                   QString& dialogResult) = 0;

    // The controls the settings are copied from and to.
    virtual QString ReceivePathText() const = 0;
    virtual void SetReceivePathText(const QString& text) = 0;
    virtual bool SenderSelected() const = 0;
    virtual void SetSenderSelected(bool sender) = 0;
};

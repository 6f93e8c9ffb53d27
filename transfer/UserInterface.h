#pragma once
#include <QString>

enum class MsgIcon { Critical, Exclamation, Information };
enum class MsgButtons { Ok, OkCancel, YesNo };
enum class MsgAnswer { Ok, Cancel, Yes, No };

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
    // A modal box with the program's title; returns the user's answer.
    virtual MsgAnswer MsgBox(const QString& text, MsgIcon icon, MsgButtons buttons = MsgButtons::Ok) = 0;
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

#pragma once
#include "UserInterface.h"
#include <QStringList>
#include <deque>
#include <functional>

// A user interface for tests: remembers every text shown and answers the
// boxes from a script (OK / the default button when the script is empty).
class RecordingUi : public UserInterface {
public:
    struct Box {
        QString text;
        MsgIcon icon;
        MsgButtons buttons;
    };

    void SetStatus1(const QString& text) override { status1 = text; status1History << text; }
    void SetStatus2(const QString& text) override { status2 = text; status2History << text; }
    QString Status1() const override { return status1; }
    QString Status2() const override { return status2; }
    void SetProgress(float percent) override { progress = percent; ++progressCalls; }
    void Alert(const QString& text, MsgIcon icon) override { Show(text, icon, MsgButtons::Ok); }
    // Answered at once, from answers (Yes/OK counts as yes).
    void Ask(Question question, const QString& text, std::function<void(bool yes)> reply) override;
    MsgAnswer Show(const QString& text, MsgIcon icon, MsgButtons buttons);
    void RunEnded(const RunOutcome& outcome) override { outcomes.push_back(outcome); }
    void UpdateControls(bool open) override { portOpenSeen = open; ++updateControlsCalls; }
    bool ChooseFilesToSend(const QString& title, bool multiSelect, const QString& initialFolder,
                           QString& dialogResult) override;
    QString ReceivePathText() const override { return receivePathText; }
    void SetReceivePathText(const QString& text) override { receivePathText = text; }
    bool SenderSelected() const override { return senderSelected; }
    void SetSenderSelected(bool sender) override { senderSelected = sender; }

    // Texts of all boxes shown so far.
    QStringList BoxTexts() const;
    bool SawBoxContaining(const QString& part) const;

    QString status1, status2;
    QStringList status1History, status2History;
    float progress = 0;
    int progressCalls = 0;
    std::vector<Box> boxes;
    std::deque<MsgAnswer> answers;          // consumed one per box
    std::function<void(const Box&)> onBox;  // runs while the box is "open"
    std::vector<RunOutcome> outcomes;
    bool portOpenSeen = false;
    int updateControlsCalls = 0;
    QString receivePathText;
    bool senderSelected = false;

    // File dialog: empty result means cancel.
    QString nextDialogResult;
    QString lastDialogTitle;
    bool lastDialogMulti = false;
    QString lastDialogFolder;
};

#pragma once
#include "CommPort.h"
#include "UserInterface.h"
#include <QObject>
#include <functional>

// The front end as the station's parts see it. A question a rule raises
// reaches the front end only after that rule has returned, and until its
// answer has come back and been acted on, port events are held and the
// station's timers wait (they ask BoxOpen()): no rule runs on a run whose
// fate the user is deciding. The file dialog of an activation is held the
// same way while its nested event loop runs.
class ModalGuardUi : public QObject, public UserInterface {
public:
    // released: called once the last box has closed and the held events were
    // delivered; answered: called before an answer goes back to the rule.
    ModalGuardUi(UserInterface& ui, CommPort& port, std::function<void()> released,
                 std::function<void()> answered = {});
    ~ModalGuardUi() override;

    bool BoxOpen() const { return m_held > 0; }

    void SetStatus1(const QString& text) override { m_ui.SetStatus1(text); }
    void SetStatus2(const QString& text) override { m_ui.SetStatus2(text); }
    QString Status1() const override { return m_ui.Status1(); }
    QString Status2() const override { return m_ui.Status2(); }
    void SetProgress(float percent) override { m_ui.SetProgress(percent); }
    void Alert(const QString& text, MsgIcon icon) override { m_ui.Alert(text, icon); }
    void Ask(Question question, const QString& text, std::function<void(bool yes)> reply) override;
    void Notice(const QString& text) override { m_ui.Notice(text); }
    void RunEnded(const RunOutcome& outcome) override { m_ui.RunEnded(outcome); }
    void UpdateControls(bool portOpen) override { m_ui.UpdateControls(portOpen); }
    bool ChooseFilesToSend(const QString& title, bool multiSelect, const QString& initialFolder,
                           QString& dialogResult) override;
    QString ReceivePathText() const override { return m_ui.ReceivePathText(); }
    void SetReceivePathText(const QString& text) override { m_ui.SetReceivePathText(text); }
    bool SenderSelected() const override { return m_ui.SenderSelected(); }
    void SetSenderSelected(bool sender) override { m_ui.SetSenderSelected(sender); }

private:
    void Hold();
    void Release();

    UserInterface& m_ui;
    CommPort& m_port;
    std::function<void()> m_released;
    std::function<void()> m_answered;
    int m_held = 0;
};

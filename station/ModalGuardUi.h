#pragma once
#include "CommPort.h"
#include "UserInterface.h"
#include <QObject>
#include <functional>

// The front end as the station's parts see it. While a box or the file
// dialog is open, its nested event loop would otherwise hand port events and
// timer ticks to protocol rules in the middle of another rule (the Stop
// question, an error box, the watchdog's question). Port events are held
// until the box has closed and the code that opened it has returned; the
// station's timers ask BoxOpen() and wait the same way.
class ModalGuardUi : public QObject, public UserInterface {
public:
    // released: called once the last box has closed and the held events were delivered.
    ModalGuardUi(UserInterface& ui, CommPort& port, std::function<void()> released);
    ~ModalGuardUi() override;

    bool BoxOpen() const { return m_held > 0; }

    void SetStatus1(const QString& text) override { m_ui.SetStatus1(text); }
    void SetStatus2(const QString& text) override { m_ui.SetStatus2(text); }
    QString Status1() const override { return m_ui.Status1(); }
    QString Status2() const override { return m_ui.Status2(); }
    void SetProgress(float percent) override { m_ui.SetProgress(percent); }
    MsgAnswer MsgBox(const QString& text, MsgIcon icon, MsgButtons buttons = MsgButtons::Ok) override;
    MsgAnswer AskNoListener(const QString& text) override;
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
    template <class F>
    auto Held(F show);
    void Release();

    UserInterface& m_ui;
    CommPort& m_port;
    std::function<void()> m_released;
    int m_held = 0;
};

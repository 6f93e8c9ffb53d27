#include "ModalGuardUi.h"
#include <QPointer>

ModalGuardUi::ModalGuardUi(UserInterface& ui, CommPort& port, std::function<void()> released,
                           std::function<void()> answered)
    : m_ui(ui), m_port(port), m_released(std::move(released)), m_answered(std::move(answered))
{
}

ModalGuardUi::~ModalGuardUi()
{
    // Releases still queued die with this object; the port may live on.
    while (m_held > 0) {
        --m_held;
        m_port.ReleaseEvents();
    }
}

void ModalGuardUi::Hold()
{
    ++m_held;
    m_port.HoldEvents();
}

void ModalGuardUi::Release()
{
    --m_held;
    m_port.ReleaseEvents();
    if (m_held == 0 && m_released)
        m_released();
}

void ModalGuardUi::Ask(Question question, const QString& text, std::function<void(bool yes)> reply)
{
    Hold();
    QMetaObject::invokeMethod(this, [this, question, text, reply = std::move(reply)] {
        QPointer<ModalGuardUi> alive(this);
        m_ui.Ask(question, text, [alive, reply](bool yes) {
            if (!alive)
                return;  // the station is gone, and the run with it
            if (alive->m_answered)
                alive->m_answered();
            reply(yes);
            alive->Release();
        });
    }, Qt::QueuedConnection);
}

bool ModalGuardUi::ChooseFilesToSend(const QString& title, bool multiSelect, const QString& initialFolder,
                                     QString& dialogResult)
{
    Hold();
    const bool chosen = m_ui.ChooseFilesToSend(title, multiSelect, initialFolder, dialogResult);
    // Not yet: the activation that opened it acts on the choice first.
    QMetaObject::invokeMethod(this, [this] { Release(); }, Qt::QueuedConnection);
    return chosen;
}

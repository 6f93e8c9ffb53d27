#include "ModalGuardUi.h"

ModalGuardUi::ModalGuardUi(UserInterface& ui, CommPort& port, std::function<void()> released)
    : m_ui(ui), m_port(port), m_released(std::move(released))
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

template <class F>
auto ModalGuardUi::Held(F show)
{
    ++m_held;
    m_port.HoldEvents();
    const auto answer = show();
    // Not yet: the rule that opened the box acts on the answer first.
    QMetaObject::invokeMethod(this, [this] { Release(); }, Qt::QueuedConnection);
    return answer;
}

void ModalGuardUi::Release()
{
    --m_held;
    m_port.ReleaseEvents();
    if (m_held == 0 && m_released)
        m_released();
}

MsgAnswer ModalGuardUi::MsgBox(const QString& text, MsgIcon icon, MsgButtons buttons)
{
    return Held([&] { return m_ui.MsgBox(text, icon, buttons); });
}

MsgAnswer ModalGuardUi::AskNoListener(const QString& text)
{
    return Held([&] { return m_ui.AskNoListener(text); });
}

bool ModalGuardUi::ChooseFilesToSend(const QString& title, bool multiSelect, const QString& initialFolder,
                                     QString& dialogResult)
{
    return Held([&] { return m_ui.ChooseFilesToSend(title, multiSelect, initialFolder, dialogResult); });
}

#include "CommPort.h"
#include <algorithm>

void CommPort::RaiseEvent(PortEvent event)
{
    if (event == PortEvent::Receive && std::find(m_pending.begin(), m_pending.end(), PortEvent::Receive) != m_pending.end())
        return;
    m_pending.push_back(event);
    DeliverPending();
}

void CommPort::ReleaseEvents()
{
    if (m_holds > 0)
        --m_holds;
    DeliverPending();
}

void CommPort::DeliverPending()
{
    if (m_inHandler)
        return;
    m_inHandler = true;
    // A handler may open a box: what is still pending waits for its release.
    while (!m_pending.empty() && m_holds == 0) {
        m_lastEvent = m_pending.front();
        m_pending.pop_front();
        if (m_eventHandler)
            m_eventHandler();
    }
    m_inHandler = false;
}

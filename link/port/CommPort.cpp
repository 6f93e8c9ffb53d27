#include "CommPort.h"
#include <algorithm>

void CommPort::RaiseEvent(int event)
{
    if (event == comEvReceive && std::find(m_pending.begin(), m_pending.end(), comEvReceive) != m_pending.end())
        return;
    m_pending.push_back(event);
    if (m_inHandler)
        return;
    m_inHandler = true;
    while (!m_pending.empty()) {
        m_commEvent = m_pending.front();
        m_pending.pop_front();
        if (m_onComm)
            m_onComm();
    }
    m_inHandler = false;
}

#pragma once
#include <QByteArray>
#include <QString>
#include <deque>
#include <functional>

#include "Line.h"

// What a port reports besides the bytes themselves: bytes arrived, a modem
// line changed, or a line error.
enum class PortEvent {
    Send, Receive, CtsChanged, DsrChanged, CdChanged, Ring, EndOfFile,
    Break, CtsTimeout, DsrTimeout, Framing, Overrun, CdTimeout, ReceiveOverflow, Parity, TransmitFull, ControlBlock,
    Unknown,  // the device failed or went away
};

// The serial-port operations the program relies on. Events are delivered on
// the owning thread through the event handler, which reads LastEvent().
// An event raised while an earlier handler (or a box it opened) is still
// running waits and is delivered after it, in order.
class CommPort : public Line {
public:

    // Configuration; each returns false with a readable description on failure.
    virtual bool SetCommPort(qint16 number, QString& why) = 0;
    virtual bool SetSettings(const QString& settings, QString& why) = 0;
    // How many received bytes the port holds for Input() (the rest waits in
    // the driver); a line without a buffer of its own takes any size.
    virtual bool SetReadBufferSize(int, QString&) { return true; }

    virtual bool SetPortOpen(bool open, QString& why) = 0;

    virtual int BytesWaiting() const = 0;
    virtual void DiscardInput() = 0;        // BytesWaiting = 0
    virtual QByteArray Input() = 0;         // all waiting bytes
    // A port that cannot hold input back discards only what waits.
    void DiscardInputFor(int ms) override
    {
        Q_UNUSED(ms);
        DiscardInput();
    }
    // True while a closed port still writes what was queued before the close.
    virtual bool Flushing() const { return false; }

    // Shown next to the port number so a user can tell what it opens.
    virtual QString DeviceDescription(qint16 number) const { return QString::number(number); }
    // Makes port number n open this device from now on; false with a reason
    // where numbers cannot be bound.
    virtual bool BindDevice(qint16 number, const QString& device, QString& why)
    {
        Q_UNUSED(number);
        Q_UNUSED(device);
        why = QStringLiteral("port numbers cannot be bound to devices here");
        return false;
    }
    // What the last open has to say for the debug log (driver modes asked
    // for and whether they were granted); empty when nothing.
    virtual QString OpenNote() const { return {}; }
    // Opens the device again after it failed. A port that knows its device by
    // more than a name (a USB adapter's serial number) also finds it where it
    // came back under another name.
    virtual bool Reopen(QString& why) { return SetPortOpen(true, why); }
    // What a user waiting for the device to come back knows it by.
    virtual QString Identity() const { return QStringLiteral("the port"); }

    PortEvent LastEvent() const { return m_lastEvent; }
    void SetEventHandler(std::function<void()> handler) { m_eventHandler = std::move(handler); }

    // While a box of a run is open its nested event loop must not run the
    // protocol: events wait from HoldEvents until the matching ReleaseEvents,
    // then come in order. Closing the port drops them.
    void HoldEvents() { ++m_holds; }
    void ReleaseEvents();
    bool EventsHeld() const { return m_holds > 0; }

protected:
    // Queues an event and delivers it unless a handler is running already.
    // Receive events waiting in the queue are merged: one read takes all bytes.
    void RaiseEvent(PortEvent event);
    // Called when the port closes: nothing that was waiting is delivered any more.
    void DropPendingEvents() { m_pending.clear(); }

private:
    void DeliverPending();

    std::function<void()> m_eventHandler;
    std::deque<PortEvent> m_pending;
    bool m_inHandler = false;
    int m_holds = 0;
    PortEvent m_lastEvent = PortEvent::Unknown;
};

// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>

// What the main window needs from the link to one device (the rotator on port A,
// the transceiver on port B), whatever carries it: a serial line or a Hamlib
// daemon on the network. The window picks the kind once, when the port opens.
class DeviceLink : public QObject
{
    Q_OBJECT

public:
    using QObject::QObject;

    // The device or daemon as messages name it: "/dev/ttyUSB0", "localhost:4532".
    virtual QString target() const = 0;
    // The bytes the manual terminal sends for a line the operator typed.
    virtual QByteArray manualCommand(const QString &line) const = 0;
    // Sends bytes already in this link's protocol.
    virtual void write(const QByteArray &bytes) = 0;
    // Ends the link: what is queued for the device goes first where the
    // protocol needs it (the FT-847's CAT OFF). No signal follows.
    virtual void close() = 0;
    // Whether the window wants the "--" trace; off, a link may skip making
    // traffic lines that would only be dropped. On until told otherwise.
    virtual void setTracing(bool on) { Q_UNUSED(on); }
    // For a link that waits for answers (a daemon's): how long, in
    // milliseconds, before a command counts as unanswered.
    virtual void setAnswerTimeout(int ms) { Q_UNUSED(ms); }
    // How long a command may wait unsent before it is dropped rather than
    // sent late: a position or frequency is meant for one repetition.
    virtual void setCommandLifetime(int ms) { Q_UNUSED(ms); }
    // The least time between two readouts (frequency and transmit state, or
    // antenna position) that reach the device; more frequent requests are
    // dropped, so that a daemon's slow line to its radio stays mostly idle.
    virtual void setReadoutInterval(int ms) { Q_UNUSED(ms); }

signals:
    // Answers meant for the window, as they came: replies to commands it wrote
    // and to the manual terminal.
    void received(const QByteArray &bytes);
    void message(const QString &text);       // for the log, always shown
    void debugMessage(const QString &text);  // for the log in debug mode, begins with "--"
    // The device or daemon went away while open; once per link.
    void connectionLost();
    // A link that connects in the background (a network link) is ready, or gave up.
    void opened();
    void openFailed(const QString &reason);
};

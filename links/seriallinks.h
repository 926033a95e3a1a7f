// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "links/rotatorlink.h"
#include "links/transceiverlink.h"

class SerialPort;
class TransceiverComm;

// The "&*" rotator controller on an open serial port: "&* AZ=..." and
// "&* EL=..." lines, answered "OK" or "ERROR/LIMIT". Owns the port.
class SerialRotatorLink : public RotatorLink
{
    Q_OBJECT

public:
    explicit SerialRotatorLink(SerialPort *port, QObject *parent = nullptr);

    QString target() const override;
    QByteArray manualCommand(const QString &line) const override;
    void write(const QByteArray &bytes) override;
    void close() override;

    QByteArray positionCommand(RotatorAxis axis, double azimuth, double elevation) override;
    // The same without a port, for a command that waits while port A is closed.
    static QByteArray commandFor(RotatorAxis axis, double azimuth, double elevation);
    bool movesBothAxes() const override { return false; }
    RotatorReply interpretReply(const QByteArray &bytes, QString &collected) const override;

private:
    void readPort();

    SerialPort *m_port;
};

// The Yaesu FT-817/FT-847 on an open serial port through the CAT link.
// Owns the port and the link; the FT-847 gets CAT ON here and CAT OFF at close.
class CatLink : public TransceiverLink
{
    Q_OBJECT

public:
    CatLink(SerialPort *port, bool ft847, QObject *parent = nullptr);
    ~CatLink() override;

    QString target() const override;
    QByteArray manualCommand(const QString &line) const override;
    void write(const QByteArray &bytes) override;
    void close() override;

    void requestFrequency() override;
    bool requestReadout() override;
    void setFrequency(quint32 hz) override;
    bool canCarry(qint64 hz) const override;
    void setTracing(bool on) override;
    int queuedCommands() const override;
    bool canKey() const override { return true; }
    void setPtt(bool on) override;
    // What the 5-byte frame can carry; the radio's own bands are narrower.
    QList<std::pair<double, double>> frequencyRanges() const override { return {{100e3, 999999990.0}}; }

private:
    SerialPort *m_port;
    TransceiverComm *m_comm;
    bool m_ft847;
};

// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "settings/wsjtxsettings.h"
#include "wsjtx/wsjtxmessage.h"

#include <QDateTime>
#include <QObject>
#include <QString>
#include <QStringList>

#include <functional>
#include <optional>

class MessageThrottle;
class QHostAddress;
class QTimer;
class QUdpSocket;

// Listens for WSJT-X's UDP messages and keeps what it last said that the
// station can follow. WSJT-X says many things on the way to a value: a dial
// of 0 and null texts at start, each grid as it is typed. None of those is
// passed on: a dial only when it is a frequency, a grid only once it is a
// locator that stood still for gridSettleMs. One WSJT-X is followed, the
// first heard, until it closes or falls silent.
class WsjtxFollow : public QObject
{
    Q_OBJECT

public:
    static constexpr int silentSeconds = 30;
    static constexpr int gridSettleMs = 2000;
    static constexpr int badDatagramPeriodMs = 60 * 1000;

    explicit WsjtxFollow(QObject *parent = nullptr);

    // Listens when the settings say to follow, stops otherwise. False, with
    // the reason, when the address cannot be listened on.
    bool apply(const WsjtxSettings &settings, QString *why = nullptr);
    const WsjtxSettings &settings() const { return m_settings; }
    bool isListening() const { return m_socket != nullptr; }
    // The station's clock, which a demo or a test may set.
    void setClock(std::function<QDateTime()> now) { m_clock = std::move(now); }

    struct Heard {
        QString id;
        QString dxCall;
        QString dxGrid;  // as settled
        QString mode;
        quint64 dialHz = 0;
        bool transmitting = false;
        bool closed = false;
        QDateTime at;    // the last message, of any type
    };
    const Heard &heard() const { return m_heard; }
    // "WSJT-X: K1JT FN20 · Q65-60A · 1296.065 MHz · transmitting", or what
    // stands instead (not yet heard, closed).
    QString summary() const;
    // The summary with the age of the last message ("· 4 s ago"), for the
    // views; empty when WSJT-X is not followed.
    QString line(const QDateTime &now) const;
    // Seconds since WSJT-X last spoke while followed; nothing when not
    // listening, before any WSJT-X was heard, or after WSJT-X closed.
    std::optional<qint64> silence(const QDateTime &now) const;
    // A WSJT-X that said it was transmitting and then fell silent for
    // silentSeconds: transmittingLost() once, and it is no longer taken as
    // transmitting.
    void checkSilence(const QDateTime &now);
    // Other WSJT-X ids named in the log: a few, so that a flood of new ones
    // costs no memory.
    static constexpr int otherIdsKept = 8;

    // One datagram as the socket hands it over; the tests and the fuzzer
    // call it directly.
    void take(const QByteArray &datagram, const QString &from, const QDateTime &now);

signals:
    void dialHeard(quint64 hz);
    void dxGridHeard(const QString &grid);
    void deGridHeard(const QString &grid);
    void transmittingHeard(bool transmitting);
    // WSJT-X closed or fell silent while it said it was transmitting.
    void transmittingLost(const QString &why);
    void periodHeard(int seconds);
    void changed();
    void message(const QString &text);

private:
    void readPending();
    void takeStatus(const wsjtx::Status &status);
    void settle();

    WsjtxSettings m_settings;
    QUdpSocket *m_socket = nullptr;
    MessageThrottle *m_bad;
    MessageThrottle *m_others;  // another WSJT-X than the one followed
    QTimer *m_settle;
    Heard m_heard;
    QStringList m_otherIds;   // other WSJT-X named since the followed one was first heard
    QString m_dxGridTyped;    // the DX grid field as last sent, settling
    QString m_deGridTyped;
    QString m_deGrid;
    std::optional<int> m_period;
    std::function<QDateTime()> m_clock = [] { return QDateTime::currentDateTimeUtc(); };
};

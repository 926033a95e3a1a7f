// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QHash>
#include <QHostAddress>
#include <QString>
#include <QStringList>

#include <functional>

namespace remote {

// What each address off the station has been up to: its wrong tokens and
// the wait they earn, and the connections of it that were refused, summed up
// for the log so that a flood is said in a few lines rather than one per
// connection. No sockets here: the server counts and asks.
class AccessGuard
{
public:
    // Wrong tokens an address may give before it has to wait; each further
    // one doubles the wait, up to the longest.
    static constexpr int freeWrongTokens = 5;
    static constexpr qint64 firstWaitMs = 1000;
    static constexpr qint64 longestWaitMs = 60000;
    // An address quiet this long starts again with a clean slate.
    static constexpr qint64 forgetAfterMs = 15 * 60000;
    static constexpr qint64 summaryEveryMs = 60000;
    // Past this many addresses the quietest are forgotten, so that a flood
    // from many addresses cannot grow the table without end.
    static constexpr int maxAddresses = 4096;

    // clock: milliseconds on a monotonic clock; none: the system's.
    explicit AccessGuard(std::function<qint64()> clock = {});

    // An address as it is counted and logged: an IPv4 one reached over IPv6 as itself.
    static QString addressKey(const QHostAddress &address);

    // False while the address has to wait after wrong tokens: a token it
    // sends then is not even compared.
    bool mayTryToken(const QString &key);
    // A token that was refused; the line to log when this is the first one
    // said of the address in a while, else empty (the summary counts it).
    QString tokenRefused(const QString &key, bool compared);
    void rightToken(const QString &key);
    // The wait the address has earned from now on, 0 when none.
    qint64 waitLeftMs(const QString &key);

    // A connection of the address refused or closed before its token for
    // the reason given; the line to log as with tokenRefused().
    QString connectionRefused(const QString &key, const QString &reason);

    // The lines for the minute past: what was counted and not yet said.
    QStringList summary();

    qsizetype addressCount() const { return m_addresses.size(); }

private:
    struct Address {
        int wrongInARow = 0;
        qint64 waitUntil = 0;
        qint64 lastSeen = 0;
        int tokensRefused = 0;  // since the last summary
        int connectionsRefused = 0;
    };
    struct Tally {
        bool said = false;  // a line went out: what follows is summed up
        bool fresh = false;  // ... and it went out since the last summary
        bool counted = false;
    };

    qint64 now() const;
    Address &address(const QString &key);
    QString note(Tally &tally, const QString &line);
    static QString summaryLine(QList<QPair<int, QString>> counts, const QString &one, const QString &many);

    std::function<qint64()> m_clock;
    QHash<QString, Address> m_addresses;
    Tally m_tokens;
    Tally m_connections;
};

} // namespace remote

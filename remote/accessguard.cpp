// SPDX-License-Identifier: GPL-3.0-or-later
#include "remote/accessguard.h"

#include <QElapsedTimer>

#include <algorithm>

namespace remote {

AccessGuard::AccessGuard(std::function<qint64()> clock)
    : m_clock(std::move(clock))
{
    if (!m_clock) {
        QElapsedTimer started;
        started.start();
        m_clock = [started] { return started.elapsed(); };
    }
}

QString AccessGuard::addressKey(const QHostAddress &address)
{
    bool isIpv4 = false;
    const quint32 ipv4 = address.toIPv4Address(&isIpv4);
    if (isIpv4)
        return QHostAddress(ipv4).toString();
    // Each address alone, not its /64: every host of a LAN shares that.
    QHostAddress plain = address;
    plain.setScopeId({});
    return plain.toString();
}

qint64 AccessGuard::now() const
{
    return m_clock();
}

AccessGuard::Address &AccessGuard::address(const QString &key)
{
    const qint64 time = now();
    auto found = m_addresses.find(key);
    if (found == m_addresses.end()) {
        if (m_addresses.size() >= maxAddresses) {
            // The one heard from longest ago, unless it still has to wait or has counts to be said.
            auto oldest = m_addresses.end();
            for (auto it = m_addresses.begin(); it != m_addresses.end(); ++it) {
                const bool busy = it->waitUntil > time || it->tokensRefused > 0 || it->connectionsRefused > 0;
                if (!busy && (oldest == m_addresses.end() || it->lastSeen < oldest->lastSeen))
                    oldest = it;
            }
            if (oldest == m_addresses.end())
                oldest = std::min_element(m_addresses.begin(), m_addresses.end(),
                                          [](const Address &a, const Address &b) { return a.lastSeen < b.lastSeen; });
            m_addresses.erase(oldest);
        }
        found = m_addresses.insert(key, Address());
    } else if (time - found->lastSeen >= forgetAfterMs && found->waitUntil <= time) {
        found->wrongInARow = 0;
    }
    found->lastSeen = time;
    return *found;
}

bool AccessGuard::mayTryToken(const QString &key)
{
    const auto found = m_addresses.constFind(key);
    return found == m_addresses.constEnd() || found->waitUntil <= now();
}

qint64 AccessGuard::waitLeftMs(const QString &key)
{
    const auto found = m_addresses.constFind(key);
    return found == m_addresses.constEnd() ? 0 : qMax<qint64>(0, found->waitUntil - now());
}

QString AccessGuard::tokenRefused(const QString &key, bool compared)
{
    Address &from = address(key);
    if (compared && ++from.wrongInARow > freeWrongTokens) {
        const int doublings = qMin(from.wrongInARow - freeWrongTokens - 1, 16);
        from.waitUntil = now() + qMin(longestWaitMs, firstWaitMs << doublings);
    }
    const QString line = compared
        ? QStringLiteral("wrong token from %1").arg(key)
        : QStringLiteral("token from %1 refused unchecked: it has to wait after its wrong tokens").arg(key);
    const QString said = note(m_tokens, line + QStringLiteral("; further refused tokens are summed up once a minute"));
    if (said.isEmpty())
        ++from.tokensRefused;
    return said;
}

void AccessGuard::rightToken(const QString &key)
{
    const auto found = m_addresses.find(key);
    if (found != m_addresses.end()) {
        found->wrongInARow = 0;
        found->waitUntil = 0;
    }
}

QString AccessGuard::connectionRefused(const QString &key, const QString &reason)
{
    Address &from = address(key);
    const QString said = note(m_connections, QStringLiteral("connection from %1 refused: %2; further refusals are "
                                                            "summed up once a minute")
                                                 .arg(key, reason));
    if (said.isEmpty())
        ++from.connectionsRefused;
    return said;
}

QString AccessGuard::note(Tally &tally, const QString &line)
{
    if (!tally.said) {
        tally.said = true;
        tally.fresh = true;
        return line;
    }
    tally.counted = true;
    return {};
}

QString AccessGuard::summaryLine(QList<QPair<int, QString>> counts, const QString &one, const QString &many)
{
    std::sort(counts.begin(), counts.end(), [](const auto &a, const auto &b) {
        return a.first != b.first ? a.first > b.first : a.second < b.second;
    });
    int total = 0;
    for (const auto &count : std::as_const(counts))
        total += count.first;
    const QString what = total == 1 ? one : many;
    if (counts.size() == 1)
        return QStringLiteral("%1 %2 from %3 in the last minute").arg(total).arg(what, counts.first().second);
    constexpr int named = 3;
    QStringList parts;
    for (qsizetype i = 0; i < counts.size() && i < named; ++i)
        parts << QStringLiteral("%1 from %2").arg(counts[i].first).arg(counts[i].second);
    QString line = QStringLiteral("%1 %2 in the last minute: %3").arg(total).arg(what, parts.join(QLatin1String(", ")));
    if (counts.size() > named)
        line += QStringLiteral(" and %1 other addresses").arg(counts.size() - named);
    return line;
}

QStringList AccessGuard::summary()
{
    QList<QPair<int, QString>> tokens;
    QList<QPair<int, QString>> connections;
    const qint64 time = now();
    for (auto it = m_addresses.begin(); it != m_addresses.end();) {
        if (it->tokensRefused > 0)
            tokens.append({it->tokensRefused, it.key()});
        if (it->connectionsRefused > 0)
            connections.append({it->connectionsRefused, it.key()});
        it->tokensRefused = 0;
        it->connectionsRefused = 0;
        if (time - it->lastSeen >= forgetAfterMs && it->waitUntil <= time)
            it = m_addresses.erase(it);
        else
            ++it;
    }
    QStringList lines;
    if (!connections.isEmpty())
        lines << summaryLine(connections, QStringLiteral("connection refused"), QStringLiteral("connections refused"));
    if (!tokens.isEmpty())
        lines << summaryLine(tokens, QStringLiteral("token refused"), QStringLiteral("tokens refused"));
    // A minute with nothing new ends the flood: the next refusal is said at once.
    for (Tally *tally : {&m_connections, &m_tokens}) {
        if (!tally->counted && !tally->fresh)
            tally->said = false;
        tally->counted = false;
        tally->fresh = false;
    }
    return lines;
}

} // namespace remote

// SPDX-License-Identifier: GPL-3.0-or-later
#include "remote/listenaddress.h"

#include "remote/remotesettings.h"

#include <QEventLoop>
#include <QHostInfo>
#include <QStringList>
#include <QTcpServer>
#include <QTimer>

#include <algorithm>

namespace remote {

namespace {

const QString advice = QStringLiteral("name an address of this machine on its network, 'any' for all of them, "
                                      "or 'localhost' for this machine alone");

QString listed(const QList<QHostAddress> &addresses)
{
    QStringList texts;
    for (const QHostAddress &address : addresses)
        texts << address.toString();
    return texts.join(QLatin1String(", "));
}

} // namespace

bool ListenAddresses::loopbackOnly() const
{
    return !addresses.isEmpty()
        && std::all_of(addresses.cbegin(), addresses.cend(), [](const QHostAddress &a) { return a.isLoopback(); });
}

QString ListenAddresses::shown() const
{
    return listed(addresses);
}

ListenAddresses chooseListenAddresses(const QString &name, const QList<QHostAddress> &resolved,
                                      const std::function<bool(const QHostAddress &)> &isOwn,
                                      const QString &lookupError)
{
    ListenAddresses result;
    if (resolved.isEmpty()) {
        result.error = QStringLiteral("listen address '%1' is no address, and looking it up as a host name gave "
                                      "none (%2): %3")
                           .arg(name, lookupError.isEmpty() ? QStringLiteral("no answer") : lookupError, advice);
        return result;
    }
    QList<QHostAddress> ours;
    for (const QHostAddress &address : resolved)
        if (!ours.contains(address) && isOwn(address))
            ours << address;
    if (ours.isEmpty()) {
        result.error = QStringLiteral("listen address '%1' is %2, not an address of this machine: %3")
                           .arg(name, listed(resolved), advice);
        return result;
    }
    result.addresses = ours;
    if (result.loopbackOnly()) {
        result.error = QStringLiteral("listen address '%1' is only this machine's loopback here (%2), which no "
                                      "other machine reaches: %3")
                           .arg(name, listed(ours), advice);
        result.addresses.clear();
    }
    return result;
}

bool isOwnAddress(const QHostAddress &address)
{
    QTcpServer probe;
    return probe.listen(address, 0);
}

ListenAddresses resolveListenAddress(const QString &text, int timeoutMs)
{
    RemoteSettings settings;
    settings.listenAddress = text;
    const QHostAddress address = settings.address();
    if (!address.isNull())
        return {{address}, {}};

    const QString name = text.trimmed();
    QEventLoop loop;
    QHostInfo answer;
    bool answered = false;
    const int lookup = QHostInfo::lookupHost(name, &loop, [&](const QHostInfo &info) {
        answer = info;
        answered = true;
        loop.quit();
    });
    QTimer::singleShot(timeoutMs, &loop, &QEventLoop::quit);
    if (!answered)
        loop.exec();
    if (!answered) {
        QHostInfo::abortHostLookup(lookup);
        return chooseListenAddresses(name, {}, isOwnAddress,
                                     QStringLiteral("no answer within %1 s").arg(timeoutMs / 1000));
    }
    return chooseListenAddresses(name, answer.addresses(), isOwnAddress,
                                 answer.error() == QHostInfo::NoError ? QString() : answer.errorString());
}

} // namespace remote

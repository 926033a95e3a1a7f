#include "remote/listenaddress.h"

#include "remote/remotesettings.h"

#include <QEventLoop>
#include <QHostInfo>
#include <QNetworkInterface>
#include <QStringList>
#include <QTimer>

#include <algorithm>

namespace remote {

namespace {

const QString advice = QStringLiteral("name an address of this machine on its network, 'any' for all of them, "
                                      "or 'localhost' for this machine alone");

QHostAddress withoutScope(QHostAddress address)
{
    address.setScopeId({});
    return address;
}

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
                                      const QList<QHostAddress> &own, const QString &lookupError)
{
    ListenAddresses result;
    if (resolved.isEmpty()) {
        result.error = QStringLiteral("listen address '%1' is no address, and looking it up as a host name gave "
                                      "none (%2): %3")
                           .arg(name, lookupError.isEmpty() ? QStringLiteral("no answer") : lookupError, advice);
        return result;
    }
    QList<QHostAddress> ours;
    for (const QHostAddress &address : resolved) {
        // The whole of 127/8 is this machine's, though only 127.0.0.1 is listed
        // (Debian gives the machine's own name 127.0.1.1).
        if (address.isLoopback() && !ours.contains(address))
            ours << address;
        for (const QHostAddress &local : own) {
            // A link-local address comes back from the look-up without its interface.
            if (withoutScope(local) == withoutScope(address) && !ours.contains(local))
                ours << local;
        }
    }
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
        return chooseListenAddresses(name, {}, {}, QStringLiteral("no answer within %1 s").arg(timeoutMs / 1000));
    }
    return chooseListenAddresses(name, answer.addresses(), QNetworkInterface::allAddresses(),
                                 answer.error() == QHostInfo::NoError ? QString() : answer.errorString());
}

} // namespace remote

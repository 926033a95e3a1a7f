// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QHostAddress>
#include <QList>
#include <QString>

#include <functional>

namespace remote {

// Where the web page and the API listen, from remote.cfg's listen address.
struct ListenAddresses {
    QList<QHostAddress> addresses;  // empty: refused, and error says why
    QString error;
    // Every address is the loopback: no one else reaches it, no token asked.
    bool loopbackOnly() const;
    QString shown() const;  // "192.168.1.20, fe80::1"
};

// A host name's addresses, kept to this machine's own and refused when none
// is, or when only the loopback is left: a name is written to be reached from
// elsewhere, and the loopback would be that name in the log and on this
// machine only. lookupError: the look-up's own.
ListenAddresses chooseListenAddresses(const QString &name, const QList<QHostAddress> &resolved,
                                      const std::function<bool(const QHostAddress &)> &isOwn,
                                      const QString &lookupError = {});

// Whether a socket can be bound to the address here: asked of the network
// stack itself, since the system unit keeps the service from the netlink
// socket through which the machine lists its interfaces.
bool isOwnAddress(const QHostAddress &address);

// "localhost", "any" and an address as they are; a host name looked up,
// waiting at most timeoutMs, and chosen from as above.
ListenAddresses resolveListenAddress(const QString &text, int timeoutMs = 10000);

} // namespace remote

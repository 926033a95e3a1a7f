// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QList>
#include <QPair>
#include <QString>

#include <optional>

// The small settings files beside store.cfg: one "key: 'value'" line each,
// any order. Reading never reports: a missing file, an unreadable or
// overlong line gives nothing for it. Writing goes as store.cfg's does (see
// savefile), so a crash never leaves half a file, and what a crash left
// beside the file is cleared when it is read.
namespace keyvalue {

using Entries = QList<QPair<QString, QString>>;

Entries read(const QString &path);
// A TCP or UDP port from 1 to 65535; nothing for anything else.
std::optional<quint16> port(const QString &value);
// A switch is written 'on' or 'off'; anything else is not one.
std::optional<bool> onOff(const QString &value);
QString onOff(bool on);
bool write(const QString &path, const Entries &entries);

} // namespace keyvalue

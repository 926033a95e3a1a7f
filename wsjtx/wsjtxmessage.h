// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QString>

#include <optional>

// WSJT-X's UDP messages, in the format WSJT-X documents for them: a
// big-endian QDataStream with a magic number, a schema, a type and the
// sender's id, then the type's fields. Only what the station follows is read;
// later fields and unknown types are skipped, as the format asks.
namespace wsjtx {

inline constexpr quint32 magic = 0xadbccbda;
inline constexpr int largestDatagram = 64 * 1024;
// No field WSJT-X sends is near this long; a longer one is damage.
inline constexpr int longestText = 512;

enum class Type : quint32 { Heartbeat = 0, Status = 1, Close = 6 };

// A Status: what WSJT-X is doing now. A text WSJT-X sent as null reads empty.
struct Status {
    quint64 dialHz = 0;
    QString mode;
    QString dxCall;
    bool txEnabled = false;
    bool transmitting = false;
    QString deCall;
    QString deGrid;
    QString dxGrid;
    QString subMode;
    std::optional<quint32> periodSeconds;  // absent in older versions, or "not applicable"
};

struct Message {
    Type type = Type::Heartbeat;
    QString id;
    Status status;  // a Status's fields; empty for the other types
};

// One datagram read, or why it was not: wrong magic or schema, a field cut
// short or too long, text that is not UTF-8. Types the station does not
// follow read as nothing, with no reason.
struct Reading {
    std::optional<Message> message;
    QString refusal;
};
Reading read(const QByteArray &datagram);

// A Maidenhead locator of four or six characters ("FN20", "FN31pr"), upper-
// cased; empty for anything else (a grid still being typed).
QString grid(const QString &text);

} // namespace wsjtx

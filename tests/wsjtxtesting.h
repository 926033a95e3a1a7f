// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// WSJT-X's UDP messages written from the format it documents (not with the
// station's reader), for the tests that play WSJT-X.

#include <QByteArray>
#include <QDataStream>
#include <QIODevice>

#include <functional>

namespace wsjtxtesting {

// WSJT-X's utf8: a quint32 length then the bytes, 0xffffffff for null.
inline void utf8(QDataStream &out, const char *text)
{
    if (!text) {
        out << quint32(0xffffffff);
        return;
    }
    const QByteArray bytes(text);
    out << quint32(bytes.size());
    out.writeRawData(bytes.constData(), int(bytes.size()));
}

struct StatusFields {
    quint64 dialHz = 1296065000;
    const char *mode = "Q65";
    const char *dxCall = "K1JT";
    bool transmitting = false;
    const char *deGrid = "JO70FD";
    const char *dxGrid = "FN20";
    const char *subMode = "A";
    quint32 period = 60;
    bool oldVersion = false;  // ends after the DX grid, as WSJT-X before 2.0 did
};

inline QByteArray datagram(quint32 schema, quint32 type, const std::function<void(QDataStream &)> &fields = {},
                           quint32 magic = 0xadbccbda, const char *id = "WSJT-X")
{
    QByteArray bytes;
    QDataStream out(&bytes, QIODevice::WriteOnly);
    out.setVersion(schema == 3 ? QDataStream::Qt_5_4 : QDataStream::Qt_5_2);
    out << magic << schema << type;
    utf8(out, id);
    if (fields)
        fields(out);
    return bytes;
}

inline QByteArray status(const StatusFields &f, quint32 schema = 2, const char *id = "WSJT-X")
{
    return datagram(
        schema, 1,
        [&](QDataStream &out) {
            out << f.dialHz;
            utf8(out, f.mode);
            utf8(out, f.dxCall);
            utf8(out, "-15");
            utf8(out, f.mode);
            out << true << f.transmitting << false << quint32(1500) << quint32(1500);
            utf8(out, "OK1XYZ");
            utf8(out, f.deGrid);
            utf8(out, f.dxGrid);
            if (f.oldVersion)
                return;
            out << false;
            utf8(out, f.subMode);
            out << false << quint8(0) << quint32(50) << f.period;
            utf8(out, "Default");
            utf8(out, "K1JT OK1XYZ JO70");
        },
        0xadbccbda, id);
}

inline QByteArray heartbeat(quint32 schema = 2, const char *id = "WSJT-X")
{
    return datagram(
        schema, 0,
        [](QDataStream &out) {
            out << quint32(3);
            utf8(out, "2.6.1");
            utf8(out, "");
        },
        0xadbccbda, id);
}

inline QByteArray closing(const char *id = "WSJT-X")
{
    return datagram(2, 6, {}, 0xadbccbda, id);
}

} // namespace wsjtxtesting

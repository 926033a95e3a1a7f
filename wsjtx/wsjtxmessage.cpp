// SPDX-License-Identifier: GPL-3.0-or-later
#include "wsjtx/wsjtxmessage.h"

#include "ephemeris/locator.h"

#include <QDataStream>
#include <QIODevice>
#include <QStringDecoder>

namespace wsjtx {

namespace {

// The fields of one datagram in order; the first that cannot be read stops
// the rest and says why.
class FieldReader
{
public:
    explicit FieldReader(const QByteArray &datagram)
        : m_stream(datagram)
    {
        m_stream.setByteOrder(QDataStream::BigEndian);
    }

    bool ok() const { return m_refusal.isEmpty(); }
    QString refusal() const { return m_refusal; }
    bool atEnd() const { return m_stream.atEnd(); }

    template<typename T>
    T number(const char *field)
    {
        T value {};
        if (!ok())
            return value;
        m_stream >> value;
        if (m_stream.status() != QDataStream::Ok)
            refuse(QStringLiteral("%1 cut short").arg(QLatin1String(field)));
        return value;
    }

    bool flag(const char *field) { return number<quint8>(field) != 0; }

    // WSJT-X's utf8: a length, 0xffffffff for null, then the bytes.
    QString text(const char *field)
    {
        const quint32 length = number<quint32>(field);
        if (!ok() || length == 0xffffffff)
            return {};
        const qint64 left = m_stream.device()->bytesAvailable();
        if (length > quint32(longestText) || qint64(length) > left) {
            refuse(QStringLiteral("%1 of %2 bytes, %3 left").arg(QLatin1String(field)).arg(length).arg(left));
            return {};
        }
        QByteArray bytes(qsizetype(length), Qt::Uninitialized);
        m_stream.readRawData(bytes.data(), int(length));
        QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
        const QString decoded = decoder(bytes);
        if (decoder.hasError()) {
            refuse(QStringLiteral("%1 is not UTF-8").arg(QLatin1String(field)));
            return {};
        }
        return decoded;
    }

    void refuse(const QString &why)
    {
        if (ok())
            m_refusal = why;
    }

private:
    QDataStream m_stream;
    QString m_refusal;
};

Status readStatus(FieldReader &fields)
{
    Status status;
    status.dialHz = fields.number<quint64>("dial frequency");
    status.mode = fields.text("mode");
    status.dxCall = fields.text("DX call");
    fields.text("report");
    fields.text("Tx mode");
    status.txEnabled = fields.flag("Tx enabled");
    status.transmitting = fields.flag("transmitting");
    fields.flag("decoding");
    fields.number<quint32>("Rx DF");
    fields.number<quint32>("Tx DF");
    status.deCall = fields.text("DE call");
    status.deGrid = fields.text("DE grid");
    status.dxGrid = fields.text("DX grid");
    if (!fields.ok() || fields.atEnd())
        return status;  // an older WSJT-X ends here
    fields.flag("Tx watchdog");
    status.subMode = fields.text("sub-mode");
    fields.flag("fast mode");
    fields.number<quint8>("special operation mode");
    fields.number<quint32>("frequency tolerance");
    if (!fields.ok() || fields.atEnd())
        return status;
    const quint32 period = fields.number<quint32>("T/R period");
    if (fields.ok() && period != 0xffffffff)
        status.periodSeconds = period;
    return status;  // the configuration name and Tx message are not followed
}

} // namespace

Reading read(const QByteArray &datagram)
{
    Reading reading;
    if (datagram.size() > largestDatagram) {
        reading.refusal = QStringLiteral("%1 bytes, more than any message").arg(datagram.size());
        return reading;
    }
    FieldReader fields(datagram);
    const quint32 first = fields.number<quint32>("magic number");
    if (fields.ok() && first != magic)
        fields.refuse(QStringLiteral("not a WSJT-X message (magic %1)").arg(first, 8, 16, QLatin1Char('0')));
    const quint32 schema = fields.number<quint32>("schema");
    // 2 is Qt 5.2's stream and 3 Qt 5.4's: the fields read alike in both.
    if (fields.ok() && schema != 2 && schema != 3)
        fields.refuse(QStringLiteral("schema %1, not 2 or 3").arg(schema));
    const quint32 type = fields.number<quint32>("message type");
    const QString id = fields.text("id");
    if (!fields.ok()) {
        reading.refusal = fields.refusal();
        return reading;
    }
    Message message;
    message.id = id;
    switch (Type(type)) {
    case Type::Heartbeat:
    case Type::Close:
        message.type = Type(type);
        break;
    case Type::Status:
        message.type = Type::Status;
        message.status = readStatus(fields);
        break;
    default:
        return reading;  // a type the station does not follow
    }
    if (!fields.ok()) {
        reading.refusal = fields.refusal();
        return reading;
    }
    reading.message = message;
    return reading;
}

QString grid(const QString &text)
{
    return positionOfLocator(text) ? text.toUpper() : QString();
}

} // namespace wsjtx

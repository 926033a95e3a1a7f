#pragma once

#include <QByteArray>
#include <QString>
#include <QtGlobal>

#include <optional>

// The text lines of Hamlib's rigctld and rotctld (default protocol): one
// command per line, one value per answer line, "RPRT n" for set commands and
// for errors. Pure functions; no socket here.
namespace hamlib {

inline constexpr quint16 rigctldDefaultPort = 4532;
inline constexpr quint16 rotctldDefaultPort = 4533;

struct Address {
    QString host;
    quint16 port = 0;
    bool operator==(const Address &other) const { return host == other.host && port == other.port; }
};

// "host:port", "host" (default port), "[v6-address]:port"; a bare IPv6
// address has more than one colon and takes the default port. Empty host,
// a port outside 1..65535 or trailing text are invalid.
std::optional<Address> parseAddress(const QString &text, quint16 defaultPort);
// As the operator typed it back: brackets around an IPv6 host.
QString addressText(const Address &address);

// "RPRT -1" -> -1. Anything else, "RPRT" with trailing text included, is not a report.
std::optional<int> parseReport(const QByteArray &line);

// A plain decimal number ("432065000", "-3.64", "1.5e2"), nothing else on the line.
std::optional<double> parseNumber(const QByteArray &line);
// rigctld's frequency answer in hertz: a number above 0 and below 100 GHz.
std::optional<double> parseFrequency(const QByteArray &line);
// rigctld's PTT answer: 0 off; 1, 2 and 3 (on, on by mic, on by data) on.
std::optional<bool> parsePtt(const QByteArray &line);

QByteArray setFrequencyCommand(quint32 hz);
// "P 123.46 5.00": two decimals, as the serial controller gets them.
QByteArray setPositionCommand(double azimuth, double elevation);
inline const QByteArray getFrequencyCommand = QByteArrayLiteral("f\n");
inline const QByteArray getPttCommand = QByteArrayLiteral("t\n");
inline const QByteArray getPositionCommand = QByteArrayLiteral("p\n");

// Hamlib's name for a (negative) return code, for the log: -1 "invalid parameter".
QString errorText(int code);

} // namespace hamlib

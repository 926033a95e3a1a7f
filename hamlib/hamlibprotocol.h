// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QByteArrayList>
#include <QByteArrayView>
#include <QList>
#include <QString>
#include <QtGlobal>

#include <optional>
#include <utility>

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
// Split: "S 1 VFOB" transmits on VFO B, "S 0 VFOA" ends it; "I <Hz>" sets the
// transmit VFO.
QByteArray setSplitCommand(bool on);
QByteArray setSplitFrequencyCommand(quint32 hz);
// "P 123.46 5.00": two decimals, as the serial controller gets them.
QByteArray setPositionCommand(double azimuth, double elevation);
inline const QByteArray getFrequencyCommand = QByteArrayLiteral("f\n");
inline const QByteArray getPttCommand = QByteArrayLiteral("t\n");
inline const QByteArray getPositionCommand = QByteArrayLiteral("p\n");

// The same with the VFO argument a daemon in VFO mode (--vfo) wants before
// any other: "f" -> "f VFOA", "F 432065000" -> "F VFOA 432065000". The
// station tunes VFO A, as Hamlib's own network client does by default: in VFO
// mode "currVFO" is whatever the daemon's last client chose (rigctld 4.5's
// dummy radio even answers "RPRT 0" to "F currVFO" and stays where it is).
QByteArray withVfo(const QByteArray &command, bool vfoMode);
inline const QByteArray trackedVfo = QByteArrayLiteral("VFOA");
inline const QByteArray checkVfoCommand = QByteArrayLiteral("\\chk_vfo\n");
inline const QByteArray dumpStateCommand = QByteArrayLiteral("\\dump_state\n");
// The answer to "\chk_vfo": "1" (or "CHKVFO 1") when the daemon runs in VFO mode.
std::optional<bool> parseVfoMode(const QByteArray &line);

// What a radio can be tuned to: its receive and transmit ranges and its
// finest tuning step. Without word from the daemon, a sane range for any
// amateur station, transverters included.
struct RigLimits {
    static constexpr double saneLowestHz = 100e3;
    static constexpr double saneHighestHz = 100e9;
    QList<std::pair<double, double>> ranges {{saneLowestHz, saneHighestHz}};
    double stepHz = 1;
    bool contains(double hz) const;
};
// rigctld's "\dump_state" answer (protocol 0 or 1): the ranges lists and
// the tuning steps. Ranges or steps that make no sense are left out; nothing
// usable at all, or an answer cut before the steps' closing line, gives nullopt.
std::optional<RigLimits> parseRigDumpState(const QByteArrayList &lines);

// Where a rotator can point; without word from the daemon, a sane range.
struct RotatorLimits {
    double minAzimuth = -360;
    double maxAzimuth = 720;
    double minElevation = -90;
    double maxElevation = 180;
    bool contains(double azimuth, double elevation) const;
};
// rotctld's "\dump_state" answer: its "min_az=", "max_az=", "min_el=" and
// "max_el=" lines; a limit that is missing or makes no sense keeps the sane one.
RotatorLimits parseRotatorDumpState(const QByteArrayList &lines);
// Whether the answer holds all four limits: one cut short by a pause does not.
bool hasRotatorLimits(const QByteArrayList &lines);

// Splits a daemon's bytes into lines: "\n" ends one, a "\r" before it is
// dropped. A line longer than maxLineLength is handed on cut at that length
// (as soon as that much has come) and the rest of it, up to its line break,
// dropped; what follows the break is read as usual. Holds at most
// maxLineLength bytes besides the last bytes fed.
class LineReader
{
public:
    static constexpr qsizetype maxLineLength = 4096;
    struct Line {
        QByteArray text;
        bool cut = false;
    };

    void feed(QByteArrayView bytes);
    std::optional<Line> next();
    qsizetype buffered() const { return m_buffer.size() - m_position; }
    void clear();

private:
    QByteArray m_buffer;
    qsizetype m_position = 0;  // lines before it are taken
    bool m_discarding = false;  // within the rest of a cut line
};

// Whether a return code says the radio gave no answer (Hamlib's time-out,
// or its line failing): a report, but none from the radio.
bool radioSilent(int code);

// Hamlib's name for a (negative) return code, for the log: -1 "invalid parameter".
QString errorText(int code);

} // namespace hamlib

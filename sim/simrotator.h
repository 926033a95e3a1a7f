// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "sim/ptypeer.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QList>
#include <QString>
#include <QStringList>

#include <functional>
#include <optional>

class QTimer;

// A simulated antenna rotator controller at the far end of a pty. Collects the
// bytes it receives into lines ended by CR LF, records every line, takes
// "&* AZ=<number>" and "&* EL=<number>" (fixed-point, sign allowed, any
// length) and answers "OK" CR LF, or "ERROR/LIMIT" CR LF for a position outside
// its limits. Other lines are recorded and, by default, not answered.
// Switches simulate the faults a real line shows.
class SimRotator : public PtyPeer
{
    Q_OBJECT

public:
    explicit SimRotator(QObject *parent = nullptr);

    // Positions outside [min, max] are refused with "ERROR/LIMIT" and not taken.
    // Without arguments: the travel of a common az/el rotator with 90 degrees
    // of overlap. Off until set, so any position is taken.
    void setLimits(double azMin = 0, double azMax = 450, double elMin = 0, double elMax = 90);
    void clearLimits() { m_limited = false; }
    // Refuses every position command with "ERROR/LIMIT", as a controller in
    // local mode or with a tripped end stop does.
    void setRefusing(bool on) { m_refusing = on; }

    // Each answer goes out this many ms after its command (and never before
    // the answer to the command before it).
    void setReplyDelay(int ms) { m_replyDelayMs = ms; }
    // Each answer in two writes: its first character (after the zero byte,
    // if on) and, gapMs later, the rest.
    void setSplitReply(bool split, int gapMs = 50)
    {
        m_splitReply = split;
        m_splitGapMs = gapMs;
    }
    // Each answer one byte at a time, gapMs apart.
    void setSingleByteReply(bool on, int gapMs = 5)
    {
        m_singleByteReply = on;
        m_singleByteGapMs = gapMs;
    }
    // Commands are taken but answered with line noise that holds no marker.
    void setGarbageReply(bool on) { m_garbageReply = on; }
    // A zero byte goes out before each answer.
    void setZeroByteBeforeReply(bool on) { m_zeroBeforeReply = on; }
    // Records and takes commands but never answers.
    void setSilent(bool on) { m_silent = on; }
    bool isSilent() const { return m_silent; }
    // What a line that is not a command gets back (empty: nothing).
    void setOtherLineReply(const QByteArray &reply) { m_otherLineReply = reply; }

    // Writes arbitrary bytes to the port side now, outside the answer queue.
    void sendRaw(const QByteArray &bytes) { send(bytes); }

    // Every line received, oldest first, without its CR LF.
    QStringList commands() const { return m_commands; }
    void clearCommands() { m_commands.clear(); }
    // Bytes received after the last CR LF.
    QByteArray partialLine() const { return m_line; }

    // The last accepted positions; empty until one is accepted.
    std::optional<double> azimuth() const { return m_azimuth; }
    std::optional<double> elevation() const { return m_elevation; }
    int acceptedCount() const { return m_acceptedCount; }
    int refusedCount() const { return m_refusedCount; }

    // Slew speeds in degrees per second; 0 or less moves at once.
    void setSlewRates(double azimuthPerSecond, double elevationPerSecond);
    // Puts the antenna there, at rest, as if it had always been there.
    void setPresentPosition(double azimuth, double elevation);
    double presentAzimuth() const { return m_az.present(now()); }
    double presentElevation() const { return m_el.present(now()); }
    // Where the antenna is going: the last accepted position, or where it
    // rests when none has been accepted.
    double commandedAzimuth() const { return m_az.target; }
    double commandedElevation() const { return m_el.target; }
    bool isMoving() const { return m_az.moving(now()) || m_el.moving(now()); }
    // The motion clock in ms (default: real time since construction); tests
    // pass their own to step time without waiting.
    void setMotionClock(std::function<qint64()> msNow) { m_motionClock = std::move(msNow); }

signals:
    void commandReceived(const QString &line);

protected:
    void handleBytes(const QByteArray &chunk) override;

private:
    void takeLine(const QByteArray &line);
    QByteArray answerTo(const QString &line);
    void queueReply(const QByteArray &reply);
    void sendDue();

    struct Piece {
        qint64 dueMs;
        QByteArray bytes;
    };

    // One axis: a straight run from `from` at `startMs` toward `target`.
    struct Axis {
        double from = 0;
        double target = 0;
        qint64 startMs = 0;
        double speed = 0;
        double present(qint64 nowMs) const;
        bool moving(qint64 nowMs) const { return present(nowMs) != target; }
        void command(double position, qint64 nowMs);
    };
    qint64 now() const;

    bool m_limited = false;
    double m_azMin = 0, m_azMax = 0, m_elMin = 0, m_elMax = 0;
    int m_replyDelayMs = 0;
    bool m_splitReply = false;
    int m_splitGapMs = 50;
    bool m_zeroBeforeReply = false;
    bool m_silent = false;
    bool m_singleByteReply = false;
    int m_singleByteGapMs = 5;
    bool m_garbageReply = false;
    bool m_refusing = false;
    QByteArray m_otherLineReply;

    QByteArray m_line;
    QStringList m_commands;
    std::optional<double> m_azimuth;
    std::optional<double> m_elevation;
    int m_acceptedCount = 0;
    int m_refusedCount = 0;
    Axis m_az {0, 0, 0, 2.0};
    Axis m_el {0, 0, 0, 1.0};
    std::function<qint64()> m_motionClock;

    // Answers go out strictly one after another, so a split or late answer
    // never interleaves with the next one.
    QList<Piece> m_queue;  // due times never decrease
    QElapsedTimer m_clock;
    QTimer *m_timer = nullptr;
};

// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "hamlib/hamlibclient.h"
#include "links/rotatorlink.h"
#include "links/transceiverlink.h"

#include <QElapsedTimer>
#include <QHash>

#include <optional>

class MessageThrottle;

// Reports what every daemon client says through the link's signals: bad and
// unexpected lines, and commands left unanswered, each at most once a second.
void wireDaemonClient(DeviceLink *link, HamlibClient *client);

// What the rigctld and rotctld links share: the client of one daemon, its
// address, lines the operator types sent as typed, and the pace of readouts.
template <typename Base>
class DaemonLink : public Base
{
public:
    static constexpr int defaultReadoutIntervalMs = 1000;

    // A daemon over TCP.
    explicit DaemonLink(const hamlib::Address &address, QObject *parent = nullptr)
        : DaemonLink([address] { return new TcpChannel(address, HamlibClient::defaultConnectTimeoutMs); },
                     hamlib::addressText(address), parent)
    {
    }
    // Another channel, made anew at each open.
    DaemonLink(std::function<HamlibChannel *()> makeChannel, const QString &target, QObject *parent = nullptr)
        : Base(parent)
        , m_makeChannel(std::move(makeChannel))
        , m_target(target)
        , m_client(new HamlibClient(this))
    {
        wireDaemonClient(this, m_client);
        QObject::connect(m_client, &HamlibClient::connected, this, [this] {
            askCapabilities();
            emit this->opened();
        });
    }

    // Starts connecting; opened() or openFailed() follows.
    void open() { m_client->connectThrough(m_makeChannel()); }

    QString target() const override { return m_target; }
    QByteArray manualCommand(const QString &line) const override { return line.toLatin1() + '\n'; }
    void close() override { m_client->close(); }
    void setTracing(bool on) override { m_client->setTracing(on); }
    void setAnswerTimeout(int ms) override { m_client->setAnswerTimeout(ms); }
    void setCommandLifetime(int ms) override { m_client->setCommandLifetime(ms); }
    void setReadoutInterval(int ms) override { m_readoutIntervalMs = qMax(0, ms); }

protected:
    // What the daemon is asked right after connecting, before anything else.
    virtual void askCapabilities() = 0;
    // True when a readout may go now; it then counts as the latest.
    bool readoutDue()
    {
        if (m_lastReadout.isValid() && m_lastReadout.elapsed() < m_readoutIntervalMs)
            return false;
        m_lastReadout.start();
        return true;
    }

    std::function<HamlibChannel *()> m_makeChannel;
    QString m_target;
    HamlibClient *m_client;
    int m_readoutIntervalMs = defaultReadoutIntervalMs;
    QElapsedTimer m_lastReadout;
};

// The transceiver through Hamlib's rigctld: readout "f" then "t", frequency
// "F <Hz>", answers "RPRT n"; in VFO mode each for VFO A. Frequencies
// read and sent are held to the radio's ranges from "\dump_state", and one
// less than the radio's step from the last sent is not sent again. Lines the
// operator types go as typed.
class RigctldLink : public DaemonLink<TransceiverLink>
{
    Q_OBJECT

public:
    using DaemonLink::DaemonLink;

    void write(const QByteArray &bytes) override;

    void requestFrequency() override;
    bool requestReadout() override;
    void setFrequency(quint32 hz) override;
    bool canCarry(qint64 hz) const override;
    // Until the daemon refuses "S": then the radio has no split.
    bool canSplit() const override { return !m_splitRefused; }
    void setSplit(bool on) override;
    void setTransmitFrequency(quint32 hz) override;
    double tuningStepHz() const override { return m_limits.stepHz; }
    bool canKey() const override { return true; }
    void setPtt(bool on) override;
    QList<std::pair<double, double>> frequencyRanges() const override { return m_limits.ranges; }
    bool rangesKnown() const override { return m_rangesKnown; }
    QString rangesProblem() const override { return m_rangesProblem; }
    // A radio that may still be in split is put back to one VFO on the way out.
    void close() override;

    bool vfoMode() const { return m_vfoMode; }
    const hamlib::RigLimits &limits() const { return m_limits; }

    // The S-meter as Hamlib gives it ("l STRENGTH"): dB over S9, by the
    // rig's own table; one asked at a time.
    void requestStrength();

signals:
    void strengthReceived(int dbOverS9);
    // The daemon's code for a radio that gives none.
    void strengthRefused(int code);

private:
    void askCapabilities() override;
    void askRanges();
    void queueFrequencyQuery(bool thenStatus);
    // Says a daemon's error to a command once, until that command succeeds again.
    void reportError(const QByteArray &command, int code);
    std::function<HamlibClient::Answer(const QByteArray &)> reportOnly(const QByteArray &command);
    void clearError(const QByteArray &command) { m_errorsShown.remove(command); }
    QByteArray ownCommand(const QByteArray &command) const { return hamlib::withVfo(command, m_vfoMode); }

    std::optional<double> m_readoutMhz;  // held until the transmit state is known
    bool m_vfoMode = false;
    hamlib::RigLimits m_limits;
    bool m_rangesKnown = false;
    int m_rangeAttempts = 0;
    QString m_rangesProblem;
    std::optional<quint32> m_lastSentHz;  // the radio is on it, as far as is known
    bool m_splitRefused = false;
    bool m_splitMayBeOn = false;  // from "S 1" until "S 0" was answered
    QHash<QByteArray, int> m_errorsShown;
};

// The rotator through Hamlib's rotctld: "P <az> <el>" with both axes (the one
// that did not move keeps its last commanded value), held to the rotator's
// limits from "\dump_state" when it goes; "p" for where the antenna points,
// answers "RPRT n".
class RotctldLink : public DaemonLink<RotatorLink>
{
    Q_OBJECT

public:
    // A reading this far beyond a limit still counts: a rotator at its stop
    // may read a little past it.
    static constexpr double readingTolerance = 5.0;

    using DaemonLink::DaemonLink;

    // Each line: a positioning command waits for its "RPRT"; any other line
    // is the operator's, and every line of its answer is handed on.
    void write(const QByteArray &bytes) override;

    QByteArray positionCommand(RotatorAxis axis, double azimuth, double elevation) override;
    bool movesBothAxes() const override { return true; }
    RotatorReply interpretReply(const QByteArray &bytes, QString &collected) const override;
    bool reportsPosition() const override { return true; }
    void requestPosition() override;

    const hamlib::RotatorLimits &limits() const { return m_limits; }
    std::optional<RotatorTravel> travel() const override;
    bool ready() const override { return m_limitsKnown; }
    QString limitsProblem() const override { return m_limitsProblem; }

private:
    void askCapabilities() override;
    void sendPositioning(const QByteArray &line);

    std::optional<double> m_lastAzimuth;
    std::optional<double> m_lastElevation;
    std::optional<double> m_readAzimuth;  // first line of a "p" answer
    hamlib::RotatorLimits m_limits;
    bool m_limitsKnown = false;
    int m_limitAttempts = 0;
    QString m_limitsProblem;
};

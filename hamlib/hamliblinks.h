#pragma once

#include "hamlib/hamlibclient.h"
#include "links/rotatorlink.h"
#include "links/transceiverlink.h"

#include <optional>

// Reports what every daemon client says through the link's signals.
void wireDaemonClient(DeviceLink *link, HamlibClient *client);

// What the rigctld and rotctld links share: the client of one daemon, its
// address, and lines the operator types sent as typed.
template <typename Base>
class DaemonLink : public Base
{
public:
    explicit DaemonLink(const hamlib::Address &address, QObject *parent = nullptr)
        : Base(parent)
        , m_address(address)
        , m_client(new HamlibClient(this))
    {
        wireDaemonClient(this, m_client);
    }

    // Starts connecting; opened() or openFailed() follows.
    void open() { m_client->connectToDaemon(m_address); }

    QString target() const override { return hamlib::addressText(m_address); }
    QByteArray manualCommand(const QString &line) const override { return line.toLatin1() + '\n'; }
    void close() override { m_client->close(); }
    void setTracing(bool on) override { m_client->setTracing(on); }

protected:
    hamlib::Address m_address;
    HamlibClient *m_client;
};

// The transceiver through Hamlib's rigctld: readout "f" then "t", frequency
// "F <Hz>", answers "RPRT n". Lines the operator types go as typed.
class RigctldLink : public DaemonLink<TransceiverLink>
{
    Q_OBJECT

public:
    using DaemonLink::DaemonLink;

    void write(const QByteArray &bytes) override;

    void requestFrequency() override;
    void requestReadout() override;
    void setFrequency(quint32 hz) override;
    bool canCarry(qint64 hz) const override;

private:
    void queueFrequencyQuery(bool thenStatus);

    std::optional<double> m_readoutMhz;  // held until the transmit state is known
};

// The rotator through Hamlib's rotctld: "P <az> <el>" with both axes (the one
// that did not move keeps its last commanded value), "p" for where the
// antenna points, answers "RPRT n".
class RotctldLink : public DaemonLink<RotatorLink>
{
    Q_OBJECT

public:
    using DaemonLink::DaemonLink;

    // Each line: a positioning command waits for its "RPRT"; any other line
    // is the operator's, and every line of its answer is handed on.
    void write(const QByteArray &bytes) override;

    QByteArray positionCommand(RotatorAxis axis, double azimuth, double elevation) override;
    bool movesBothAxes() const override { return true; }
    RotatorReply interpretReply(const QByteArray &bytes, QString &collected) const override;
    bool reportsPosition() const override { return true; }
    void requestPosition() override;

private:
    std::optional<double> m_lastAzimuth;
    std::optional<double> m_lastElevation;
    std::optional<double> m_readAzimuth;  // first line of a "p" answer
};

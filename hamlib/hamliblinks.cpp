#include "hamlib/hamliblinks.h"

namespace {

using Answer = HamlibClient::Answer;

// How long a line the operator typed may go without any answer, and how long
// after its last line the answer counts as complete: its length is not known.
constexpr int manualAnswerTimeoutMs = 5000;
constexpr int manualQuietMs = 300;

const QString readoutFrequencyKey = QStringLiteral("f");
const QString readoutStatusKey = QStringLiteral("t");
const QString setFrequencyKey = QStringLiteral("F");
const QString positionKey = QStringLiteral("p");

QString reportText(int code)
{
    return QStringLiteral("%1 (%2)").arg(code).arg(hamlib::errorText(code));
}

} // namespace

void wireDaemonClient(DeviceLink *link, HamlibClient *client)
{
    QObject::connect(client, &HamlibClient::connected, link, &DeviceLink::opened);
    QObject::connect(client, &HamlibClient::connectFailed, link, &DeviceLink::openFailed);
    QObject::connect(client, &HamlibClient::connectionLost, link, &DeviceLink::connectionLost);
    QObject::connect(client, &HamlibClient::traffic, link, &DeviceLink::debugMessage);
    QObject::connect(client, &HamlibClient::badLine, link, [link](const QByteArray &line) {
        emit link->message(QStringLiteral("bad line from %1: %2").arg(link->target(), QString::fromLatin1(line.left(200))));
    });
    QObject::connect(client, &HamlibClient::unexpectedLine, link, [link](const QByteArray &line) {
        emit link->message(
            QStringLiteral("unexpected line from %1: %2").arg(link->target(), QString::fromLatin1(line.left(200))));
    });
    QObject::connect(client, &HamlibClient::answerMissing, link, [link](const QByteArray &command) {
        emit link->message(QStringLiteral("no answer from %1 to %2").arg(link->target(), QString::fromLatin1(command)));
    });
}

namespace {

// Lines the operator typed: every answer line goes to the window; an "RPRT"
// line ends the answer, otherwise a short quiet time does.
void sendManualLines(DeviceLink *link, HamlibClient &client, const QByteArray &bytes,
                     const std::function<bool(const QByteArray &)> &isOwnCommand,
                     const std::function<void(const QByteArray &)> &sendOwn)
{
    for (const QByteArray &line : bytes.split('\n')) {
        const QByteArray command = line.endsWith('\r') ? line.chopped(1) : line;
        if (command.isEmpty())
            continue;
        if (isOwnCommand && isOwnCommand(command)) {
            sendOwn(command);
            continue;
        }
        HamlibClient::Request request;
        request.command = command + '\n';
        request.answerTimeoutMs = manualAnswerTimeoutMs;
        request.quietMs = manualQuietMs;
        request.onLine = [link](const QByteArray &answer) {
            emit link->received(answer);
            return hamlib::parseReport(answer) ? Answer::Done : Answer::More;
        };
        client.send(request);
    }
}

} // namespace

// ---- rigctld ---------------------------------------------------------------

void RigctldLink::write(const QByteArray &bytes)
{
    sendManualLines(this, *m_client, bytes, nullptr, nullptr);
}

void RigctldLink::queueFrequencyQuery(bool thenStatus)
{
    if (m_client->hasPending(readoutFrequencyKey))
        return;  // a daemon that is slow to answer gets no pile of queries
    HamlibClient::Request request;
    request.command = hamlib::getFrequencyCommand;
    request.key = readoutFrequencyKey;
    request.onLine = [this, thenStatus](const QByteArray &line) {
        if (const auto report = hamlib::parseReport(line)) {
            emit message(QStringLiteral("Transceiver error code: %1").arg(reportText(*report)));
            return Answer::Done;
        }
        const auto hz = hamlib::parseFrequency(line);
        if (!hz)
            return Answer::Bad;
        if (thenStatus)
            m_readoutMhz = *hz / 1e6;
        else
            emit frequencyReceived(*hz / 1e6);
        return Answer::Done;
    };
    m_client->send(request);
    if (!thenStatus)
        return;

    HamlibClient::Request status;
    status.command = hamlib::getPttCommand;
    status.key = readoutStatusKey;
    // The frequency waits for the state, so that it shows with the right prefix.
    const auto showFrequency = [this] {
        if (m_readoutMhz)
            emit frequencyReceived(*m_readoutMhz);
        m_readoutMhz.reset();
    };
    status.onLine = [this, showFrequency](const QByteArray &line) {
        if (const auto report = hamlib::parseReport(line)) {
            // A radio without a transmit-state readout still shows its frequency.
            if (*report != 0)
                emit debugMessage(QStringLiteral("--no transmit state from %1: %2").arg(target(), reportText(*report)));
            showFrequency();
            return Answer::Done;
        }
        const auto ptt = hamlib::parsePtt(line);
        if (!ptt)
            return Answer::Bad;
        emit statusReceived(*ptt);
        showFrequency();
        return Answer::Done;
    };
    status.onExpired = showFrequency;
    m_client->send(status);
}

void RigctldLink::requestFrequency()
{
    queueFrequencyQuery(false);
}

void RigctldLink::requestReadout()
{
    queueFrequencyQuery(true);
}

void RigctldLink::setFrequency(quint32 hz)
{
    HamlibClient::Request request;
    request.command = hamlib::setFrequencyCommand(hz);
    request.key = setFrequencyKey;  // a newer Doppler step replaces one not yet sent
    request.onLine = [this](const QByteArray &line) {
        const auto report = hamlib::parseReport(line);
        if (!report)
            return Answer::Bad;
        if (*report != 0)
            emit message(QStringLiteral("Transceiver error code: %1").arg(reportText(*report)));
        return Answer::Done;
    };
    m_client->send(request);
}

bool RigctldLink::canCarry(qint64 hz) const
{
    // rigctld takes any frequency the radio has; the limit is the 32-bit value.
    return hz >= 0 && hz <= qint64(0xFFFFFFFFu);
}

// ---- rotctld ---------------------------------------------------------------

void RotctldLink::write(const QByteArray &bytes)
{
    const auto isPositioning = [](const QByteArray &line) { return line.startsWith("P "); };
    const auto sendPositioning = [this](const QByteArray &line) {
        HamlibClient::Request request;
        request.command = line + '\n';
        request.onLine = [this](const QByteArray &answer) {
            if (!hamlib::parseReport(answer))
                return Answer::Bad;
            emit received(answer);
            return Answer::Done;
        };
        request.onExpired = [this] { emit commandExpired(); };
        m_client->send(request);
    };
    sendManualLines(this, *m_client, bytes, isPositioning, sendPositioning);
}

QByteArray RotctldLink::positionCommand(RotatorAxis axis, double azimuth, double elevation)
{
    // The axis that did not move keeps its last commanded value; before any
    // command it takes the value the window has for it now.
    if (axis == RotatorAxis::Azimuth && m_lastElevation)
        elevation = *m_lastElevation;
    if (axis == RotatorAxis::Elevation && m_lastAzimuth)
        azimuth = *m_lastAzimuth;
    m_lastAzimuth = azimuth;
    m_lastElevation = elevation;
    return hamlib::setPositionCommand(azimuth, elevation);
}

RotatorReply RotctldLink::interpretReply(const QByteArray &bytes, QString &) const
{
    RotatorReply reply;
    const auto report = hamlib::parseReport(bytes);
    if (!report)
        return reply;
    reply.kind = *report == 0 ? RotatorReply::Accepted : RotatorReply::Refused;
    if (*report != 0)
        reply.text = reportText(*report);
    return reply;
}

void RotctldLink::requestPosition()
{
    if (m_client->hasPending(positionKey))
        return;
    HamlibClient::Request request;
    request.command = hamlib::getPositionCommand;
    request.key = positionKey;
    m_readAzimuth.reset();
    request.onLine = [this](const QByteArray &line) {
        if (const auto report = hamlib::parseReport(line)) {
            if (*report != 0)
                emit debugMessage(QStringLiteral("--no position from %1: %2").arg(target(), reportText(*report)));
            return Answer::Done;
        }
        const auto value = hamlib::parseNumber(line);
        if (!value)
            return Answer::Bad;
        if (!m_readAzimuth) {
            m_readAzimuth = value;
            return Answer::More;
        }
        emit positionReceived(*m_readAzimuth, *value);
        m_readAzimuth.reset();
        return Answer::Done;
    };
    request.onExpired = [this] { m_readAzimuth.reset(); };
    m_client->send(request);
}

// SPDX-License-Identifier: GPL-3.0-or-later
#include "hamlib/hamliblinks.h"

#include "links/messagethrottle.h"
#include "links/showntext.h"

#include <cmath>
#include <memory>

namespace {

using Answer = HamlibClient::Answer;

// How long a line the operator typed may go without any answer, and how long
// after its last line the answer counts as complete: its length is not known.
constexpr int manualAnswerTimeoutMs = 5000;
constexpr int manualQuietMs = 300;
// "\dump_state" of protocol 0 has no closing line: a pause ends it, long
// enough to wait out a busy daemon or a slow line (a byte each 20 ms), and
// bounds on its length and time guard against a daemon that never stops.
// An answer still incomplete is asked for again, so many times.
constexpr int dumpStateQuietMs = 2000;
constexpr int dumpStateLongestMs = 60000;
constexpr int maxDumpStateLines = 500;
constexpr int dumpStateAttempts = 3;

const QString readoutFrequencyKey = QStringLiteral("f");
const QString readoutStatusKey = QStringLiteral("t");
const QString setFrequencyKey = QStringLiteral("F");
const QString strengthKey = QStringLiteral("l");
const QString positionKey = QStringLiteral("p");
const QString setPositionKey = QStringLiteral("P");

QString reportText(int code)
{
    return QStringLiteral("%1 (%2)").arg(code).arg(hamlib::errorText(code));
}

// Asks "\dump_state" and hands its lines over once the answer has ended;
// none from a daemon that has no such command.
void askDumpState(HamlibClient &client, const std::function<void(const QByteArrayList &)> &take,
                  const std::function<void()> &failed)
{
    auto lines = std::make_shared<QByteArrayList>();
    HamlibClient::Request request;
    request.command = hamlib::dumpStateCommand;
    request.quietMs = dumpStateQuietMs;
    request.longestMs = dumpStateLongestMs;
    request.onLine = [lines, take](const QByteArray &line) {
        if (hamlib::parseReport(line)) {
            take({});
            return Answer::Done;
        }
        if (line == "done") {
            take(*lines);
            return Answer::Done;
        }
        if (lines->size() >= maxDumpStateLines)
            return Answer::Bad;
        *lines << line;
        return Answer::More;
    };
    // A protocol 0 answer ends with a pause.
    request.onQuiet = [lines, take] { take(*lines); };
    request.onFailed = failed;
    client.send(request);
}

} // namespace

void wireDaemonClient(DeviceLink *link, HamlibClient *client)
{
    const QString target = link->target();
    auto *lines = new MessageThrottle(
        QStringLiteral("%1 bad lines from ") + target + QStringLiteral(", first: %2"), link);
    auto *missing = new MessageThrottle(
        QStringLiteral("%1 commands without an answer from ") + target + QStringLiteral(", first: %2"), link);
    // A daemon that keeps talking out of turn is summed up once a minute.
    constexpr int sustainedNoiseMs = 60000;
    for (MessageThrottle *throttle : {lines, missing}) {
        throttle->setSustainedPeriod(sustainedNoiseMs);
        QObject::connect(throttle, &MessageThrottle::message, link, &DeviceLink::message);
    }
    QObject::connect(client, &HamlibClient::connectFailed, link, &DeviceLink::openFailed);
    QObject::connect(client, &HamlibClient::connectionLost, link, &DeviceLink::connectionLost);
    QObject::connect(client, &HamlibClient::traffic, link, &DeviceLink::debugMessage);
    // Worded only when said: in a flood most lines are merely counted.
    const auto report = [lines, target](const char *kind, const QByteArray &line) {
        if (lines->tryCount())
            return;
        const QString shown = shownText(line);
        lines->report(QStringLiteral("%1 from %2: %3").arg(QLatin1String(kind), target, shown), shown);
    };
    QObject::connect(client, &HamlibClient::badLine, link,
                     [report](const QByteArray &line) { report("bad line", line); });
    QObject::connect(client, &HamlibClient::unexpectedLine, link,
                     [report](const QByteArray &line) { report("unexpected line", line); });
    QObject::connect(client, &HamlibClient::answerMissing, link, [missing, target](const QByteArray &command) {
        if (missing->tryCount())
            return;
        const QString shown = shownText(command);
        missing->report(QStringLiteral("no answer from %1 to %2").arg(target, shown), shown);
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

void RigctldLink::askCapabilities()
{
    HamlibClient::Request request;
    request.command = hamlib::checkVfoCommand;
    request.onLine = [this](const QByteArray &line) {
        if (hamlib::parseReport(line))
            return Answer::Done;  // an older daemon: no VFO mode
        const auto vfo = hamlib::parseVfoMode(line);
        if (!vfo)
            return Answer::Bad;
        m_vfoMode = *vfo;
        if (m_vfoMode)
            emit debugMessage(QStringLiteral("--%1 runs in VFO mode").arg(target()));
        return Answer::Done;
    };
    m_client->send(request);
    m_rangeAttempts = 0;
    askRanges();
}

// Until the ranges are read whole, no frequency goes: one the radio cannot
// take may put it somewhere else or nowhere.
void RigctldLink::askRanges()
{
    const auto incomplete = [this] {
        if (++m_rangeAttempts < dumpStateAttempts) {
            askRanges();
            return;
        }
        m_rangesProblem = QStringLiteral("radio's ranges unknown: %1 gave no complete answer to \\dump_state "
                                         "in %2 tries; no frequency is sent to the radio")
                              .arg(target())
                              .arg(dumpStateAttempts);
        emit rangesChanged();
    };
    askDumpState(
        *m_client,
        [this, incomplete](const QByteArrayList &lines) {
            const auto limits = hamlib::parseRigDumpState(lines);
            if (!limits) {
                incomplete();
                return;
            }
            m_limits = *limits;
            m_rangesKnown = true;
            m_rangesProblem.clear();
            emit rangesChanged();
        },
        incomplete);
}

void RigctldLink::write(const QByteArray &bytes)
{
    sendManualLines(this, *m_client, bytes, nullptr, nullptr);
}

void RigctldLink::reportError(const QByteArray &command, int code)
{
    const auto shown = m_errorsShown.constFind(command);
    if (shown != m_errorsShown.constEnd() && *shown == code) {
        emit debugMessage(QStringLiteral("--%1 again: %2").arg(QString::fromLatin1(command), reportText(code)));
        return;
    }
    m_errorsShown.insert(command, code);
    emit message(QStringLiteral("Transceiver error code: %1").arg(reportText(code)));
}

void RigctldLink::queueFrequencyQuery(bool thenStatus)
{
    if (m_client->hasPending(readoutFrequencyKey))
        return;  // a daemon that is slow to answer gets no pile of queries
    HamlibClient::Request request;
    request.makeCommand = [this] { return ownCommand(hamlib::getFrequencyCommand); };
    request.key = readoutFrequencyKey;
    request.lapses = true;
    request.onLine = [this, thenStatus](const QByteArray &line) {
        if (const auto report = hamlib::parseReport(line)) {
            if (!hamlib::radioSilent(*report))
                emit answered();
            reportError("f", *report);
            return Answer::Done;
        }
        const auto hz = hamlib::parseFrequency(line);
        if (!hz || !m_limits.contains(*hz))
            return Answer::Bad;
        // The radio answered now, whatever becomes of the transmit state's query.
        emit answered();
        clearError("f");
        // Tuned elsewhere (by hand, by another program): the next frequency goes whatever it is.
        if (m_lastSentHz && std::fabs(*hz - *m_lastSentHz) >= m_limits.stepHz && !m_client->hasPending(setFrequencyKey))
            m_lastSentHz.reset();
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
    status.makeCommand = [this] { return ownCommand(hamlib::getPttCommand); };
    status.key = readoutStatusKey;
    status.lapses = true;
    // The frequency waits for the state, so that it shows with the right prefix.
    const auto showFrequency = [this] {
        if (m_readoutMhz)
            emit frequencyReceived(*m_readoutMhz);
        m_readoutMhz.reset();
    };
    // A frequency held while the radio stopped answering is no news of it:
    // shown seconds later, it would pass for an answer given after the silence began.
    const auto dropFrequency = [this] {
        if (m_readoutMhz)
            emit debugMessage(QStringLiteral("--frequency read before %1 stopped answering not shown").arg(target()));
        m_readoutMhz.reset();
    };
    status.onLine = [this, showFrequency, dropFrequency](const QByteArray &line) {
        if (const auto report = hamlib::parseReport(line)) {
            if (*report != 0)
                emit debugMessage(QStringLiteral("--no transmit state from %1: %2").arg(target(), reportText(*report)));
            if (hamlib::radioSilent(*report)) {
                dropFrequency();
                return Answer::Done;
            }
            emit answered();
            // A radio without a transmit-state readout still shows its frequency.
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
    status.onFailed = dropFrequency;
    m_client->send(status);
}

void RigctldLink::requestStrength()
{
    if (m_client->hasPending(strengthKey))
        return;
    HamlibClient::Request request;
    request.makeCommand = [this] { return ownCommand(QByteArrayLiteral("l STRENGTH\n")); };
    request.key = strengthKey;
    request.lapses = true;
    request.onLine = [this](const QByteArray &line) {
        if (const auto report = hamlib::parseReport(line)) {
            emit strengthRefused(*report);
            return Answer::Done;
        }
        // Any S-meter reads within 100 dB of S9.
        bool ok = false;
        const int db = line.toInt(&ok);
        if (!ok || db < -100 || db > 100)
            return Answer::Bad;
        emit strengthReceived(db);
        return Answer::Done;
    };
    m_client->send(request);
}

void RigctldLink::requestFrequency()
{
    queueFrequencyQuery(false);
}

bool RigctldLink::requestReadout()
{
    if (!readoutDue())
        return false;
    queueFrequencyQuery(true);
    return true;
}

void RigctldLink::setFrequency(quint32 hz)
{
    if (m_lastSentHz && std::fabs(double(hz) - double(*m_lastSentHz)) < m_limits.stepHz)
        return;  // the radio is there already, as near as it can be
    m_lastSentHz = hz;
    HamlibClient::Request request;
    request.makeCommand = [this, hz] { return ownCommand(hamlib::setFrequencyCommand(hz)); };
    // A newer Doppler step replaces one not yet sent; in VFO mode too, where
    // only the current VFO is ever set.
    request.key = setFrequencyKey;
    request.lapses = true;
    request.onLine = [this](const QByteArray &line) {
        const auto report = hamlib::parseReport(line);
        if (!report)
            return Answer::Bad;
        if (*report != 0) {
            m_lastSentHz.reset();
            reportError("F", *report);
        } else {
            clearError("F");
        }
        return Answer::Done;
    };
    request.onFailed = [this] { m_lastSentHz.reset(); };
    m_client->send(request);
}

void RigctldLink::setSplit(bool on)
{
    if (on)
        m_splitMayBeOn = true;
    HamlibClient::Request request;
    request.makeCommand = [this, on] { return ownCommand(hamlib::setSplitCommand(on)); };
    request.onLine = [this, on](const QByteArray &line) {
        const auto report = hamlib::parseReport(line);
        if (!report)
            return Answer::Bad;
        if (*report != 0) {
            m_splitRefused = on;
            reportError("S", *report);
        } else {
            clearError("S");
            if (!on)
                m_splitMayBeOn = false;
        }
        return Answer::Done;
    };
    m_client->send(request);
}

void RigctldLink::setTransmitFrequency(quint32 hz)
{
    HamlibClient::Request request;
    request.makeCommand = [this, hz] { return ownCommand(hamlib::setSplitFrequencyCommand(hz)); };
    request.key = QStringLiteral("I");
    request.lapses = true;  // a newer transmit frequency replaces one not yet sent
    request.onLine = reportOnly("I");
    m_client->send(request);
}

// An answer that is only a report: an error said once, until the command works again.
std::function<HamlibClient::Answer(const QByteArray &)> RigctldLink::reportOnly(const QByteArray &command)
{
    return [this, command](const QByteArray &line) {
        const auto report = hamlib::parseReport(line);
        if (!report)
            return Answer::Bad;
        if (*report != 0)
            reportError(command, *report);
        else
            clearError(command);
        return Answer::Done;
    };
}

void RigctldLink::setPtt(bool on)
{
    HamlibClient::Request request;
    request.makeCommand = [this, on] { return ownCommand(on ? QByteArrayLiteral("T 1\n") : QByteArrayLiteral("T 0\n")); };
    request.onLine = reportOnly("T");
    m_client->send(request);
}

void RigctldLink::close()
{
    if (m_splitMayBeOn && m_client->isConnected())
        m_client->closeAfter(ownCommand(hamlib::setSplitCommand(false)));
    else
        m_client->close();
    m_splitMayBeOn = false;
}

bool RigctldLink::canCarry(qint64 hz) const
{
    return m_rangesKnown && hz >= 0 && hz <= qint64(0xFFFFFFFFu) && m_limits.contains(double(hz));
}

// ---- rotctld ---------------------------------------------------------------

void RotctldLink::askCapabilities()
{
    // An answer without all four limits is asked for again rather than
    // taken for the whole travel.
    constexpr int attempts = dumpStateAttempts;
    const auto incomplete = [this] {
        if (++m_limitAttempts < attempts) {
            askCapabilities();
            return;
        }
        // Positions go from now on; the rotator's own refusals are said.
        m_limitsProblem = QStringLiteral("rotator's limits unknown: %1 gave no complete answer to \\dump_state "
                                         "in %2 tries")
                              .arg(target())
                              .arg(attempts);
        m_limitsKnown = true;
        emit limitsLearned();
    };
    askDumpState(
        *m_client,
        [this, incomplete](const QByteArrayList &lines) {
            if (!hamlib::hasRotatorLimits(lines) && !lines.isEmpty()) {
                incomplete();
                return;
            }
            // Empty: a daemon without the command; its sane range is all there is.
            m_limits = hamlib::parseRotatorDumpState(lines);
            m_limitsKnown = true;
            m_limitsProblem.clear();
            emit limitsLearned();
        },
        incomplete);
}

// Only what the daemon said: the sane range of a silent one is no travel.
std::optional<RotatorTravel> RotctldLink::travel() const
{
    const hamlib::RotatorLimits sane;
    if (m_limits.minAzimuth == sane.minAzimuth && m_limits.maxAzimuth == sane.maxAzimuth
        && m_limits.minElevation == sane.minElevation && m_limits.maxElevation == sane.maxElevation)
        return std::nullopt;
    return RotatorTravel {m_limits.minAzimuth, m_limits.maxAzimuth, m_limits.minElevation, m_limits.maxElevation};
}

void RotctldLink::write(const QByteArray &bytes)
{
    const auto isPositioning = [](const QByteArray &line) { return line.startsWith("P "); };
    sendManualLines(this, *m_client, bytes, isPositioning, [this](const QByteArray &line) { sendPositioning(line); });
}

void RotctldLink::sendPositioning(const QByteArray &line)
{
    HamlibClient::Request request;
    request.command = line + '\n';
    const bool tracking = m_lastAzimuth && m_lastElevation
        && request.command == hamlib::setPositionCommand(*m_lastAzimuth, *m_lastElevation);
    if (tracking) {
        // The tracking's own, held to the limits known when it goes: below the
        // horizon the antenna waits at the lowest elevation and still follows
        // in azimuth. A line the operator typed goes as typed.
        request.makeCommand = [this, az = *m_lastAzimuth, el = *m_lastElevation] {
            return hamlib::setPositionCommand(qBound(m_limits.minAzimuth, az, m_limits.maxAzimuth),
                                              qBound(m_limits.minElevation, el, m_limits.maxElevation));
        };
        // The newest position replaces one not yet sent, and none goes late.
        request.key = setPositionKey;
        request.lapses = true;
    }
    request.onLine = [this](const QByteArray &answer) {
        if (!hamlib::parseReport(answer))
            return Answer::Bad;
        emit received(answer);
        return Answer::Done;
    };
    request.onFailed = [this] { emit commandExpired(); };
    m_client->send(request);
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
    if (m_client->hasPending(positionKey) || !readoutDue())
        return;
    HamlibClient::Request request;
    request.command = hamlib::getPositionCommand;
    request.key = positionKey;
    request.lapses = true;
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
            if (*value < m_limits.minAzimuth - readingTolerance || *value > m_limits.maxAzimuth + readingTolerance)
                return Answer::Bad;
            m_readAzimuth = value;
            return Answer::More;
        }
        if (*value < m_limits.minElevation - readingTolerance || *value > m_limits.maxElevation + readingTolerance)
            return Answer::Bad;
        emit positionReceived(*m_readAzimuth, *value);
        m_readAzimuth.reset();
        return Answer::Done;
    };
    request.onFailed = [this] { m_readAzimuth.reset(); };
    m_client->send(request);
}

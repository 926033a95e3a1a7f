// SPDX-License-Identifier: GPL-3.0-or-later
#include "hamlib/hamlibclient.h"

#include "links/showntext.h"

#include <QTimer>

namespace {

constexpr int maxChunksPerTurn = 4;

QTimer *singleShotTimer(QObject *parent)
{
    auto *timer = new QTimer(parent);
    timer->setSingleShot(true);
    return timer;
}

} // namespace

HamlibClient::HamlibClient(QObject *parent)
    : QObject(parent)
    , m_connectTimer(singleShotTimer(this))
    , m_answerTimer(singleShotTimer(this))
    , m_quietTimer(singleShotTimer(this))
    , m_settleTimer(singleShotTimer(this))
{
    connect(m_connectTimer, &QTimer::timeout, this, &HamlibClient::onConnectTimeout);
    connect(m_answerTimer, &QTimer::timeout, this, &HamlibClient::expire);
    connect(m_quietTimer, &QTimer::timeout, this, &HamlibClient::quietEnded);
    connect(m_settleTimer, &QTimer::timeout, this, &HamlibClient::settled);
}

HamlibClient::~HamlibClient()
{
    close();
}

void HamlibClient::connectToDaemon(const hamlib::Address &address)
{
    connectThrough(new TcpChannel(address, m_connectTimeoutMs));
}

void HamlibClient::connectThrough(HamlibChannel *channel)
{
    close();
    m_channel = channel;
    m_channel->setParent(this);
    m_channel->setTracing(m_tracing);
    m_target = channel->target();
    connect(m_channel, &HamlibChannel::opened, this, &HamlibClient::onConnected);
    connect(m_channel, &HamlibChannel::openFailed, this, &HamlibClient::onOpenFailed);
    connect(m_channel, &HamlibChannel::lost, this, &HamlibClient::onLost);
    connect(m_channel, &HamlibChannel::readyRead, this, &HamlibClient::readLines);
    connect(m_channel, &HamlibChannel::trace, this, &HamlibClient::traffic);
    m_connecting = true;
    m_connectTimer->start(m_channel->openTimeoutMs());
    m_channel->open();
}

void HamlibClient::setTracing(bool on)
{
    m_tracing = on;
    if (m_channel)
        m_channel->setTracing(on);
}

void HamlibClient::close()
{
    for (QTimer *timer : {m_connectTimer, m_answerTimer, m_quietTimer, m_settleTimer})
        timer->stop();
    m_queue.clear();
    m_outstanding = false;
    m_settling = false;
    m_reader.clear();
    m_connecting = false;
    m_connected = false;
    if (m_channel) {
        m_channel->disconnect(this);
        m_channel->abort();
        m_channel->deleteLater();
        m_channel = nullptr;
    }
}

void HamlibClient::closeAfter(const QByteArray &command)
{
    HamlibChannel *channel = m_channel;
    if (!m_connected || !channel) {
        close();
        return;
    }
    m_channel = nullptr;
    close();
    channel->closeAfter(command);
}

void HamlibClient::onConnected()
{
    m_connectTimer->stop();
    m_connecting = false;
    m_connected = true;
    emit connected();
}

void HamlibClient::giveUp(const QString &reason)
{
    close();
    emit connectFailed(reason);
}

void HamlibClient::onConnectTimeout()
{
    if (m_connecting)
        giveUp(QStringLiteral("no answer within %1 s").arg(m_connectTimeoutMs / 1000.0));
}

void HamlibClient::onOpenFailed(const QString &reason)
{
    if (m_connecting)
        giveUp(reason);
}

void HamlibClient::onLost()
{
    if (!m_connected)
        return;
    close();
    emit connectionLost();
}

void HamlibClient::send(const Request &request)
{
    if (!m_connected)
        return;
    Queued queued {request, {}};
    queued.made.start();
    if (!request.key.isEmpty()) {
        for (auto it = m_queue.begin() + (m_outstanding ? 1 : 0); it != m_queue.end(); ++it) {
            if (it->request.key == request.key) {
                *it = queued;  // the newest value wins, in the older one's place
                return;
            }
        }
    }
    if (int(m_queue.size()) - (m_outstanding ? 1 : 0) >= maxQueued) {
        m_queue.erase(m_queue.begin() + (m_outstanding ? 1 : 0));
        emit traffic(QStringLiteral("--command queue overflowed"));
    }
    m_queue.push_back(queued);
    sendNext();
}

bool HamlibClient::hasPending(const QString &key) const
{
    for (const Queued &queued : m_queue)
        if (queued.request.key == key)
            return true;
    return false;
}

void HamlibClient::sendNext()
{
    while (!m_outstanding && !m_settling && m_connected && !m_queue.empty()) {
        Queued &head = m_queue.front();
        if (head.request.lapses && head.made.elapsed() > m_commandLifetimeMs) {
            // Meant for a moment that has passed: sent now it would undo a newer command.
            const auto failed = head.request.onFailed;
            if (m_tracing)
                emit traffic(QStringLiteral("--dropped unsent after %1 ms: %2")
                                 .arg(head.made.elapsed())
                                 .arg(shownText(head.request.command)));
            m_queue.pop_front();
            if (failed)
                failed();
            continue;
        }
        if (head.request.makeCommand)
            head.request.command = head.request.makeCommand();
        m_outstanding = true;
        m_answerBegun = false;
        m_answerTimer->start(head.request.answerTimeoutMs > 0 ? head.request.answerTimeoutMs : m_answerTimeoutMs);
        if (m_tracing)
            emit traffic(QStringLiteral("--sending to %1: %2").arg(target(), shownText(head.request.command)));
        m_channel->write(head.request.command);
    }
}

void HamlibClient::finishRequest()
{
    m_answerTimer->stop();
    m_quietTimer->stop();
    if (m_outstanding && !m_queue.empty())
        m_queue.pop_front();
    m_outstanding = false;
    sendNext();
}

void HamlibClient::quietEnded()
{
    if (!m_outstanding || m_queue.empty())
        return;
    const auto quiet = m_queue.front().request.onQuiet;
    finishRequest();
    if (quiet)
        quiet();
}

void HamlibClient::failRequest()
{
    m_answerTimer->stop();
    m_quietTimer->stop();
    if (!m_outstanding || m_queue.empty())
        return;
    const auto failed = m_queue.front().request.onFailed;
    m_queue.pop_front();
    m_outstanding = false;
    settle();
    if (failed)
        failed();
}

void HamlibClient::expire()
{
    if (!m_outstanding || m_queue.empty())
        return;
    emit answerMissing(m_queue.front().request.command.trimmed());
    failRequest();
}

void HamlibClient::settle()
{
    m_settling = true;
    m_settlingSince.start();
    m_settleTimer->start(settleMs);
}

void HamlibClient::settled()
{
    m_settling = false;
    sendNext();
}

void HamlibClient::scheduleRead()
{
    if (m_readScheduled)
        return;
    m_readScheduled = true;
    QTimer::singleShot(0, this, [this] {
        m_readScheduled = false;
        readLines();
    });
}

void HamlibClient::readLines()
{
    int lines = 0;
    int chunks = 0;
    while (m_channel) {
        if (const auto line = m_reader.next()) {
            takeLine(*line);
            if (++lines < maxLinesPerTurn)
                continue;
        } else if (m_channel->bytesAvailable() > 0 && chunks++ < maxChunksPerTurn) {
            m_reader.feed(m_channel->read(readChunk));
            answerProgressed();
            continue;
        }
        // Lines still held or bytes still waiting: the event loop turns first.
        if (m_channel && (lines >= maxLinesPerTurn || m_channel->bytesAvailable() > 0))
            scheduleRead();
        return;
    }
}

// An answer of unknown length has not ended while its bytes still come,
// however slowly, even mid-line.
void HamlibClient::answerProgressed()
{
    if (!m_outstanding || m_queue.empty())
        return;
    const Request &request = m_queue.front().request;
    if (request.quietMs > 0)
        m_quietTimer->start(request.quietMs);
    if (request.longestMs > 0 && !m_answerBegun)
        m_answerTimer->start(request.longestMs);
    m_answerBegun = true;
}

void HamlibClient::takeLine(const hamlib::LineReader::Line &line)
{
    if (!m_outstanding || m_queue.empty()) {
        // A flood keeps the line unsettled only so long: then commands go again.
        if (m_settling && m_settlingSince.elapsed() < m_answerTimeoutMs)
            m_settleTimer->start(settleMs);
        emit unexpectedLine(line.text);
        return;
    }
    if (line.cut) {
        emit badLine(line.text);
        failRequest();
        return;
    }
    // Copied: the handler may queue a new request, which can move the queue.
    const auto onLine = m_queue.front().request.onLine;
    const int quietMs = m_queue.front().request.quietMs;
    const Answer answer = onLine(line.text);
    if (answer == Answer::Bad) {
        emit badLine(line.text);
        failRequest();
        return;
    }
    if (m_tracing)
        emit traffic(QStringLiteral("--received from %1: %2").arg(target(), shownText(line.text)));
    if (answer == Answer::Done)
        finishRequest();
    else if (quietMs > 0)
        m_quietTimer->start(quietMs);
}

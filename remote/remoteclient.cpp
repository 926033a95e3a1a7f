// SPDX-License-Identifier: GPL-3.0-or-later
#include "remote/remoteclient.h"

#include "links/showntext.h"
#include "remote/stationstate.h"

#include <QFile>
#include <QJsonDocument>
#include <QTimer>
#include <QWebSocket>

#include <algorithm>
#include <cmath>

namespace {

constexpr int maxPendingCommands = 100;
constexpr int policyViolation = 1008;  // the server's answer to a wrong token, among others

QString shown(const QJsonValue &value, qsizetype maxChars = 200)
{
    return shownText(value.toString().toUtf8(), maxChars);
}

} // namespace

RemoteClient::RemoteClient(QObject *parent)
    : QObject(parent)
    , m_socket(new QWebSocket(QString(), QWebSocketProtocol::VersionLatest, this))
    , m_retry(new QTimer(this))
    , m_answer(new QTimer(this))
    , m_quiet(new QTimer(this))
{
    m_socket->setMaxAllowedIncomingFrameSize(maxMessageBytes);
    m_socket->setMaxAllowedIncomingMessageSize(maxMessageBytes);
    m_retry->setSingleShot(true);
    m_answer->setSingleShot(true);
    m_answer->setInterval(silenceTimeoutMs);
    connect(m_retry, &QTimer::timeout, this, &RemoteClient::attempt);
    // A precise timer never ends early: the whole seconds said have gone by,
    // however late a busy machine lets it end.
    m_quiet->setTimerType(Qt::PreciseTimer);
    connect(m_answer, &QTimer::timeout, this, [this] {
        fail(Status::Lost, m_status == Status::Silent
                               ? QStringLiteral("no word from the station for %1 s").arg(silenceTimeoutMs / 1000)
                               : QStringLiteral("the station does not answer"));
    });
    connect(m_quiet, &QTimer::timeout, this, &RemoteClient::quiet);
    connect(m_socket, &QWebSocket::connected, this, [this] { m_reached = true; });
    connect(m_socket, &QWebSocket::textMessageReceived, this, &RemoteClient::message);
    connect(m_socket, &QWebSocket::binaryMessageReceived, this,
            [this] { fail(Status::Lost, QStringLiteral("the station sent a binary message")); });
    // A failed attempt may bring an error without a disconnection, a close
    // both: either is taken once.
    connect(m_socket, &QWebSocket::disconnected, this, &RemoteClient::disconnected);
    connect(m_socket, qOverload<QAbstractSocket::SocketError>(&QWebSocket::error), this, &RemoteClient::disconnected);
}

// Qt 6.4 leaks the close reason of a socket destroyed while open.
RemoteClient::~RemoteClient()
{
    m_socket->disconnect(this);
    m_socket->abort();
}

void RemoteClient::open(const QUrl &url, const QString &token)
{
    m_url = url;
    m_token = token;
    m_retryMs = firstRetryMs;
    setStatus(Status::Connecting);
    attempt();
}

bool RemoteClient::retryPending() const
{
    return m_retry->isActive();
}

int RemoteClient::retryDelayMs() const
{
    return m_retry->interval();
}

void RemoteClient::quiet()
{
    m_quiet->start(1000);
    setStatus(Status::Silent, QStringLiteral("no word from the station for %1 s").arg(m_sinceState.elapsed() / 1000));
}

void RemoteClient::attempt()
{
    m_socket->abort();
    m_reached = false;
    m_quiet->stop();
    m_answer->start();
    m_socket->open(m_url);
}

bool RemoteClient::send(const QString &command, QJsonObject fields)
{
    if (m_status != Status::Connected)
        return false;
    if (m_pending.size() >= maxPendingCommands)
        m_pending.clear();  // replies that never came are not waited for forever
    const int id = ++m_lastId;
    m_pending.insert(id, command);
    fields.insert(QStringLiteral("cmd"), command);
    fields.insert(QStringLiteral("id"), id);
    m_socket->sendTextMessage(QString::fromUtf8(QJsonDocument(fields).toJson(QJsonDocument::Compact)));
    return true;
}

void RemoteClient::message(const QString &text)
{
    const QJsonDocument document = QJsonDocument::fromJson(text.toUtf8());
    if (!document.isObject())
        return fail(Status::Lost, QStringLiteral("the station sent what is not a JSON object"));
    const QJsonObject message = document.object();
    const QString type = message.value(QLatin1String("type")).toString();
    if (type == QLatin1String("hello") || type == QLatin1String("state")) {
        const QJsonValue version = message.value(QLatin1String("version"));
        if (!version.isDouble() || std::floor(version.toDouble()) != remote::protocolVersion)
            return fail(Status::Refused,
                        QStringLiteral("the station speaks protocol version %1; this program speaks version %2")
                            .arg(version.isDouble() ? QString::number(version.toDouble()) : QStringLiteral("(none)"))
                            .arg(remote::protocolVersion));
    }
    if (type == QLatin1String("hello")) {
        if (const QString run = shown(message.value(QLatin1String("run")), 40); run != m_run) {
            m_run = run;
            m_lastLogNumber = 0;
        }
        if (!message.value(QLatin1String("token")).toBool())
            return;
        if (m_token.isEmpty())
            return fail(Status::Refused, QStringLiteral("the station asks for its token (kept in remote.token there)"));
        const QJsonObject hello {{QStringLiteral("cmd"), QStringLiteral("hello")},
                                 {QStringLiteral("token"), m_token},
                                 {QStringLiteral("id"), 0}};
        m_socket->sendTextMessage(QString::fromUtf8(QJsonDocument(hello).toJson(QJsonDocument::Compact)));
    } else if (type == QLatin1String("state")) {
        m_state = message;
        m_sinceState.start();  // before the timer, so that it has run as long when it ends
        m_answer->start();
        m_quiet->start(staleAfterMs);
        m_retryMs = firstRetryMs;
        if (m_status != Status::Connected)
            setStatus(Status::Connected);
        emit stateChanged();
    } else if (type == QLatin1String("log")) {
        // Unnumbered lines (an older station) are all new.
        const double number = message.value(QLatin1String("n")).toDouble(0);
        if (number > 0 && number <= m_lastLogNumber)
            return;
        m_lastLogNumber = qMax(m_lastLogNumber, number);
        const QString line = QStringLiteral("%1 %2").arg(shown(message.value(QLatin1String("time")), 40),
                                                          shown(message.value(QLatin1String("text")), 500));
        m_log.append(line);
        if (m_log.size() > maxLogLines)
            m_log.removeFirst();
        emit logLine(line);
    } else if (type == QLatin1String("reply")) {
        const QJsonValue id = message.value(QLatin1String("id"));
        const QString command = m_pending.take(id.isDouble() ? id.toInt() : -1);
        if (!message.value(QLatin1String("ok")).toBool() && !command.isEmpty())
            emit commandRefused(command, shown(message.value(QLatin1String("error"))));
    }
    // Other types are for later versions of the same major one: passed over.
}

void RemoteClient::disconnected()
{
    if (m_status == Status::Refused || m_status == Status::Idle || m_retry->isActive())
        return;
    const bool wasIn = m_status == Status::Connected || m_status == Status::Silent;
    // Only this answer would not change; a station that makes this address wait
    // after wrong tokens, or makes room for others, is tried again.
    if (m_socket->closeCode() == policyViolation && m_socket->closeReason() == QLatin1String("wrong token")
        && !wasIn && !m_token.isEmpty())
        return fail(Status::Refused, QStringLiteral("the station refused the token"));
    const QString reason = shownText(m_socket->closeReason().toUtf8());
    QString problem = wasIn       ? QStringLiteral("the station went away")
                      : m_reached ? QStringLiteral("the connection broke")
                                  : QStringLiteral("the station cannot be reached");
    if (m_socket->error() != QAbstractSocket::UnknownSocketError && !m_socket->errorString().isEmpty())
        problem += QStringLiteral(": %1").arg(shownText(m_socket->errorString().toUtf8()));
    else if (!reason.isEmpty())
        problem += QStringLiteral(": %1").arg(reason);
    fail(Status::Lost, problem);
}

// Lost: tried again after a wait that doubles up to half a minute, so that a
// station down for long is not knocked on every second. Refused: left alone.
void RemoteClient::fail(Status status, const QString &problem)
{
    m_answer->stop();
    m_quiet->stop();
    m_pending.clear();
    if (status == Status::Lost) {
        m_retry->start(m_retryMs);
        m_retryMs = std::min(m_retryMs * 2, lastRetryMs);
    } else {
        m_retry->stop();
    }
    // Set first, so that the disconnection abort() reports is not taken as another loss.
    setStatus(status, problem);
    m_socket->abort();
}

void RemoteClient::setStatus(Status status, const QString &problem)
{
    const bool changed = status != m_status || problem != m_problem;
    m_status = status;
    m_problem = problem;
    if (changed)
        emit connectionChanged();
}

std::optional<QString> remote::readToken(const QString &path, QString *error)
{
    constexpr qint64 maxBytes = 512;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        *error = QStringLiteral("cannot read the token from %1: %2").arg(path, file.errorString());
        return std::nullopt;
    }
    const QByteArray text = file.read(maxBytes + 1).trimmed();
    const bool printable = std::all_of(text.begin(), text.end(), [](char c) { return c > ' ' && c < 127; });
    if (text.isEmpty() || text.size() > maxBytes || !printable) {
        *error = QStringLiteral("%1 holds no token (one line of printable characters)").arg(path);
        return std::nullopt;
    }
    return QString::fromLatin1(text);
}

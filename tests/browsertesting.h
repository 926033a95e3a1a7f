// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// A real headless Chromium driven through its DevTools protocol, for the web
// page's test and its benchmark. Needs QtCore, QtNetwork and QtWebSockets.

#include <QElapsedTimer>
#include <QHash>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QWebSocket>
#include <QtCore/qtestsupport_core.h>

#include <memory>

namespace browsertesting {

constexpr int waitMs = 10000;

// One page of the browser, reached over its DevTools WebSocket.
class DevTools : public QObject
{
public:
    explicit DevTools(const QUrl &url)
    {
        connect(&m_socket, &QWebSocket::textMessageReceived, this, [this](const QString &text) {
            const QJsonObject message = QJsonDocument::fromJson(text.toUtf8()).object();
            if (message.contains(QLatin1String("id")))
                m_replies.insert(message.value(QLatin1String("id")).toInt(), message);
        });
        m_socket.open(url);
    }
    ~DevTools() override { m_socket.abort(); }  // Qt 6.4 leaks the reason of a socket destroyed while open
    bool waitConnected()
    {
        return QTest::qWaitFor([this] { return m_socket.state() == QAbstractSocket::ConnectedState; }, waitMs);
    }
    QJsonObject call(const QString &method, const QJsonObject &params = {})
    {
        const int id = ++m_id;
        m_socket.sendTextMessage(QString::fromUtf8(
            QJsonDocument(QJsonObject {{"id", id}, {"method", method}, {"params", params}}).toJson()));
        if (!QTest::qWaitFor([&] { return m_replies.contains(id); }, waitMs))
            return {};
        return m_replies.take(id);
    }
    // The expression's value in the page.
    QJsonValue evaluate(const QString &expression)
    {
        const QJsonObject reply = call("Runtime.evaluate", {{"expression", expression}, {"returnByValue", true}});
        return reply.value("result").toObject().value("result").toObject().value("value");
    }
    QString text(const char *id)
    {
        return evaluate(QStringLiteral("(document.getElementById('%1') || {}).textContent").arg(id)).toString();
    }

private:
    QWebSocket m_socket;
    QHash<int, QJsonObject> m_replies;
    int m_id = 0;
};

// Chromium on a blank page, ended with the object.
class Browser
{
public:
    static QString program() { return QStandardPaths::findExecutable(QStringLiteral("chromium")); }

    // Starts it; the DevTools page of its one tab when it runs (empty otherwise,
    // with what it said in error()).
    QUrl start(const QUrl &url)
    {
        m_process.setProcessChannelMode(QProcess::SeparateChannels);
        m_process.start(program(), {"--headless", "--no-sandbox", "--disable-gpu", "--no-first-run",
                                    "--disable-extensions", "--user-data-dir=" + m_profile.path(),
                                    "--remote-debugging-address=127.0.0.1", "--remote-debugging-port=0",
                                    "--window-size=1200,900", url.toString()});
        if (!m_process.waitForStarted())
            return {};
        // "DevTools listening on ws://127.0.0.1:PORT/devtools/browser/ID"
        QRegularExpressionMatch listening;
        [[maybe_unused]] const bool said = QTest::qWaitFor(
            [&] {
                m_said += m_process.readAllStandardError();
                listening = QRegularExpression("DevTools listening on ws://127.0.0.1:(\\d+)/")
                                .match(QString::fromUtf8(m_said));
                return listening.hasMatch() || m_process.state() == QProcess::NotRunning;
            },
            2 * waitMs);
        if (!listening.hasMatch())
            return {};
        const QUrl list(QStringLiteral("http://127.0.0.1:%1/json/list").arg(listening.captured(1)));
        QNetworkAccessManager network;
        QUrl page;
        [[maybe_unused]] const bool listed = QTest::qWaitFor(
            [&] {
                std::unique_ptr<QNetworkReply> reply(network.get(QNetworkRequest(list)));
                if (!QTest::qWaitFor([&] { return reply->isFinished(); }, 5000))
                    return false;
                for (const QJsonValue target : QJsonDocument::fromJson(reply->readAll()).array())
                    if (target["type"] == "page")
                        page = QUrl(target["webSocketDebuggerUrl"].toString());
                return page.isValid() && !page.isEmpty();
            },
            waitMs);
        return page;
    }
    QByteArray error() const { return m_said.right(2000); }
    ~Browser()
    {
        m_process.terminate();
        if (!m_process.waitForFinished(5000))
            m_process.kill();
        m_process.waitForFinished(5000);
    }

private:
    QTemporaryDir m_profile;
    QProcess m_process;
    QByteArray m_said;
};

// Chromium showing the page a station serves on a loopback port, its tab
// reached over DevTools; what Chromium said in error() when it is not.
class BrowserPage
{
public:
    explicit BrowserPage(quint16 port)
    {
        const QUrl url = m_browser.start(QStringLiteral("http://127.0.0.1:%1/").arg(port));
        if (url.isValid() && !url.isEmpty())
            m_page = std::make_unique<DevTools>(url);
        m_open = m_page && m_page->waitConnected();
    }
    bool isOpen() const { return m_open; }
    const char *error()
    {
        m_error = m_browser.error();
        return m_error.constData();
    }
    DevTools &page() { return *m_page; }

private:
    Browser m_browser;  // outlives the page's connection to it
    std::unique_ptr<DevTools> m_page;
    QByteArray m_error;
    bool m_open = false;
};

} // namespace browsertesting

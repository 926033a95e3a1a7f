// SPDX-License-Identifier: GPL-3.0-or-later
#include "linkedhamlib/linkedchannel.h"

#include "hamlibserver/hamlibserver.h"
#include "linkedhamlib/hamlibmodels.h"
#include "linkedhamlib/linkeddevice.h"
#include "linkedhamlib/linkedworker.h"
#include "links/showntext.h"

#include <QFileInfo>
#include <QThread>

#include <hamlib/rig.h>

#include <atomic>
#include <cstdio>
#include <mutex>

namespace {

// Hamlib has one debug output for the whole process; what it says on a
// worker's thread is that worker's, anything else is dropped.
thread_local LinkedWorker *t_worker = nullptr;
std::atomic<int> g_tracingChannels {0};

int relayHamlib(enum rig_debug_level_e level, rig_ptr_t, const char *format, va_list arguments)
{
    if (!t_worker)
        return 0;
    char text[1024];
    std::vsnprintf(text, sizeof text, format, arguments);
    t_worker->hamlibSaid(level, text);
    return 0;
}

// Errors always (a failed open names its cause through them), the rest
// only while some link is traced.
void setHamlibLevel()
{
    rig_set_debug(g_tracingChannels.load() > 0 ? RIG_DEBUG_VERBOSE : RIG_DEBUG_ERR);
}

// How long a close waits for an idle worker to close the model; one inside
// a slow call is left to end by itself.
constexpr int stopWaitMs = 500;
constexpr qsizetype mostPartial = 4096;
constexpr qsizetype mostAnswers = 64 * 1024;

} // namespace

void hamlibmodels::quietHamlib()
{
    static std::once_flag once;
    std::call_once(once, [] {
        rig_set_debug_callback(relayHamlib, nullptr);
        setHamlibLevel();
    });
}

LinkedWorker::LinkedWorker(bool rotator, const HamlibDevice &device, const QString &path)
    : m_rotator(rotator)
    , m_device(device)
    , m_path(path)
{
}

LinkedWorker::~LinkedWorker()
{
    t_worker = this;
    m_engine.reset();  // closes the model on this thread
    t_worker = nullptr;
}

void LinkedWorker::open()
{
    t_worker = this;
    if (m_rotator)
        m_engine = std::make_unique<LinkedRotator>(m_device, m_path);
    else
        m_engine = std::make_unique<LinkedRig>(m_device, m_path);
    m_lastError.clear();
    const QString refused = m_engine->open();
    if (refused.isEmpty()) {
        emit opened();
        return;
    }
    m_engine.reset();
    emit openFailed(m_lastError.isEmpty() || refused.contains(m_lastError)
                        ? refused
                        : QStringLiteral("%1 (%2)").arg(refused, m_lastError));
}

void LinkedWorker::carryOut(quint64 number, const QByteArray &line, const QElapsedTimer &queued, int staleMs)
{
    if (!m_engine || m_lost)
        return;
    if (queued.isValid() && queued.elapsed() > staleMs) {
        if (m_tracing)
            emit trace(QStringLiteral("--Hamlib: not carried out, waited %1 ms: %2")
                           .arg(queued.elapsed())
                           .arg(shownText(line)));
        return;
    }
    t_worker = this;
    const QByteArray answer = m_engine->answer(line);
    emit answered(number, answer);
    if (m_engine->deviceGone()) {
        m_lost = true;
        emit lost();
    }
}

void LinkedWorker::hamlibSaid(int level, const char *text)
{
    m_said += text;
    if (m_said.size() > 4096)
        m_said = m_said.right(4096);
    qsizetype end;
    while ((end = m_said.indexOf('\n')) >= 0) {
        const QByteArray line = m_said.left(end).trimmed();
        m_said.remove(0, end + 1);
        if (line.isEmpty())
            continue;
        if (level <= RIG_DEBUG_ERR)
            m_lastError = shownText(line.left(200));
        if (!m_tracing)
            continue;
        if (!m_traceSecond.isValid() || m_traceSecond.elapsed() >= 1000) {
            if (m_tracedThisSecond > mostTraceLinesPerSecond)
                emit trace(QStringLiteral("--Hamlib: %1 more lines left out")
                               .arg(m_tracedThisSecond - mostTraceLinesPerSecond));
            m_traceSecond.start();
            m_tracedThisSecond = 0;
        }
        if (++m_tracedThisSecond <= mostTraceLinesPerSecond)
            emit trace(QStringLiteral("--Hamlib: %1").arg(shownText(line)));
    }
}

LinkedChannel::LinkedChannel(bool rotator, const HamlibDevice &device, const QString &path, QObject *parent)
    : HamlibChannel(parent)
    , m_target(targetText(rotator, device, path))
    , m_path(path)
    , m_thread(new QThread)
    , m_worker(new LinkedWorker(rotator, device, path))
{
    hamlibmodels::quietHamlib();
    m_thread->setObjectName(QStringLiteral("hamlib"));
    m_worker->moveToThread(m_thread);
    connect(m_thread, &QThread::finished, m_worker, &QObject::deleteLater);
    connect(m_worker, &LinkedWorker::opened, this, &HamlibChannel::opened);
    connect(m_worker, &LinkedWorker::openFailed, this, &HamlibChannel::openFailed);
    connect(m_worker, &LinkedWorker::lost, this, &HamlibChannel::lost);
    connect(m_worker, &LinkedWorker::trace, this, &HamlibChannel::trace);
    connect(m_worker, &LinkedWorker::answered, this, &LinkedChannel::answered);
}

LinkedChannel::~LinkedChannel()
{
    stop();
}

QString LinkedChannel::targetText(bool rotator, const HamlibDevice &device, const QString &path)
{
    const QString model = hamlibmodels::name(rotator, device.model);
    return path.isEmpty() ? QStringLiteral("Hamlib's %1").arg(model)
                          : QStringLiteral("Hamlib's %1 on %2").arg(model, path);
}

void LinkedChannel::open()
{
    m_started = true;
    m_thread->start();
    QMetaObject::invokeMethod(m_worker, &LinkedWorker::open, Qt::QueuedConnection);
}

void LinkedChannel::write(const QByteArray &bytes)
{
    if (m_stopped || m_gone)
        return;
    // A device unplugged while Hamlib waits on it can keep Hamlib waiting
    // long after; its name gone from /dev is seen here without the worker.
    if (m_path.startsWith(QLatin1Char('/')) && !QFileInfo::exists(m_path)) {
        m_gone = true;
        QMetaObject::invokeMethod(this, &HamlibChannel::lost, Qt::QueuedConnection);
        return;
    }
    m_partial += bytes;
    qsizetype end;
    while ((end = m_partial.indexOf('\n')) >= 0) {
        const QByteArray line = m_partial.left(qMin(end, qsizetype(HamlibServer::longestLine)));
        m_partial.remove(0, end + 1);
        const quint64 number = ++m_written;
        QElapsedTimer queued;
        queued.start();
        QMetaObject::invokeMethod(
            m_worker, [worker = m_worker, number, line, queued] { worker->carryOut(number, line, queued, staleMs); },
            Qt::QueuedConnection);
    }
    if (m_partial.size() > mostPartial)
        m_partial.clear();
}

void LinkedChannel::answered(quint64 number, const QByteArray &bytes)
{
    if (number != m_written) {
        emit trace(QStringLiteral("--Hamlib answered too late, dropped: %1").arg(shownText(bytes.trimmed())));
        return;
    }
    if (m_answers.size() + bytes.size() > mostAnswers)
        return;
    m_answers += bytes;
    emit readyRead();
}

QByteArray LinkedChannel::read(qint64 most)
{
    const QByteArray taken = m_answers.left(most);
    m_answers.remove(0, taken.size());
    return taken;
}

void LinkedChannel::setTracing(bool on)
{
    if (m_stopped || m_tracing == on)
        return;
    m_tracing = on;
    g_tracingChannels += on ? 1 : -1;
    setHamlibLevel();
    m_worker->setTracing(on);
}

void LinkedChannel::abort()
{
    stop();
}

void LinkedChannel::closeAfter(const QByteArray &command)
{
    disconnect();
    setParent(nullptr);
    write(command);
    stop();
    deleteLater();
}

void LinkedChannel::stop()
{
    if (m_stopped)
        return;
    m_stopped = true;
    setTracing(false);
    m_worker->disconnect(this);
    if (!m_started) {
        delete m_worker;
        delete m_thread;
        return;
    }
    // Behind the lines already handed over, so that a last command is carried out.
    QMetaObject::invokeMethod(m_worker, [thread = m_thread] { thread->quit(); }, Qt::QueuedConnection);
    // An idle worker closes the model and ends at once; one inside a slow
    // call is left to end by itself, and its thread deleted then.
    if (m_thread->wait(stopWaitMs)) {
        delete m_thread;
    } else {
        connect(m_thread, &QThread::finished, m_thread, &QObject::deleteLater);
        if (m_thread->isFinished())
            m_thread->deleteLater();
    }
}

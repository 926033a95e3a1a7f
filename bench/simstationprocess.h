// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The simulated station (bench_simstation) in a process of its own, for the
// benchmarks that measure the program without the devices' cost.

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QProcess>

namespace bench {

// The path of a program built beside this one.
inline QString sibling(const QString &name)
{
    return QCoreApplication::applicationDirPath() + QLatin1Char('/') + name;
}

// bench_simstation in a process of its own; its paths once it is ready.
class SimStation
{
public:
    bool start(const QStringList &arguments = {})
    {
        m_process.setProgram(sibling(QStringLiteral("bench_simstation")));
        m_process.setArguments(arguments);
        m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        m_process.start();
        if (!m_process.waitForStarted(10000))
            return false;
        QByteArray out;
        QElapsedTimer wait;
        wait.start();
        while (!out.contains("ready\n") && wait.elapsed() < 20000) {
            if (!m_process.waitForReadyRead(1000) && m_process.state() != QProcess::Running)
                return false;
            out += m_process.readAllStandardOutput();
        }
        for (const QByteArray &line : out.split('\n')) {
            if (line.startsWith("rotator "))
                rotatorPath = QString::fromLocal8Bit(line.mid(8));
            else if (line.startsWith("radio "))
                radioPath = QString::fromLocal8Bit(line.mid(6));
        }
        return !rotatorPath.isEmpty() && !radioPath.isEmpty();
    }
    ~SimStation()
    {
        if (m_process.state() == QProcess::NotRunning)
            return;
        m_process.closeWriteChannel();
        if (!m_process.waitForFinished(5000))
            m_process.kill();
        m_process.waitForFinished(2000);
    }
    qint64 pid() const { return m_process.processId(); }

    // How many CAT frames the radio has taken so far; -1 if it does not say.
    int radioFrames()
    {
        const QByteArray answer = ask("frames\n");
        return answer.startsWith("frames ") ? answer.mid(7).trimmed().toInt() : -1;
    }
    // Sets the radio's frequency; back once the station has done it.
    bool tune(quint32 hz) { return ask("tune " + QByteArray::number(hz) + '\n').startsWith("tuned"); }
    // Line noise from the rotator from now on, as fast as the port takes it up to the rate.
    bool flood(qint64 bytesPerSecond)
    {
        return ask("flood " + QByteArray::number(bytesPerSecond) + '\n').startsWith("flooding");
    }
    // The noise's bytes written so far; -1 if the station does not say.
    qint64 floodedBytes()
    {
        const QByteArray answer = ask("flooded\n");
        return answer.startsWith("flooded ") ? answer.mid(8).trimmed().toLongLong() : -1;
    }

    QString rotatorPath;
    QString radioPath;

private:
    // One line to the station and its one-line answer.
    QByteArray ask(const QByteArray &line)
    {
        m_process.readAllStandardOutput();
        m_process.write(line);
        QByteArray out;
        QElapsedTimer wait;
        wait.start();
        while (!out.contains('\n') && wait.elapsed() < 5000 && m_process.waitForReadyRead(1000))
            out += m_process.readAllStandardOutput();
        return out;
    }

    QProcess m_process;
};

} // namespace bench

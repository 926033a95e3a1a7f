#pragma once

// What the benchmarks that run the main window share: the simulated station
// in its own process and the real main window set up on its ptys.

#include "benchreport.h"
#include "windowtesting.h"

#include "serial/serialenumerator.h"

#include <QFile>
#include <QProcess>
#include <QRadioButton>

#include <memory>

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

struct StoreValues {
    int repetitionSeconds = 2;
    int messageDelayMs = 200;
    double azimuthRounding = 0.1;
    double elevationRounding = 0.1;
};

// The real main window in a fresh working directory, offered the station's
// two ptys as its only ports (rotator first).
class WindowHost
{
public:
    WindowHost(const QString &rotatorPath, const QString &radioPath, const StoreValues &values)
    {
        QFile store(m_dir.file(QStringLiteral("store.cfg")));
        if (store.open(QIODevice::WriteOnly)) {
            const QString text = QStringLiteral(
                                     "filename: '%1'\nrepetition time: '%2'\nelevation offset: '0'\n"
                                     "azimut offset: '0'\nmessage delay: '%3'\nazimuth rounding: '%4'\n"
                                     "elevation rounding: '%5'\nazimuth parking: '90'\nelevation parking: '10'\n")
                                     .arg(m_dir.path())
                                     .arg(values.repetitionSeconds)
                                     .arg(values.messageDelayMs)
                                     .arg(values.azimuthRounding)
                                     .arg(values.elevationRounding);
            store.write(text.toLocal8Bit());
        }
        store.close();
        SerialEnumerator::setSystemPortsHidden(true);
        SerialEnumerator::setExtraPortNames({rotatorPath, radioPath});
        window = std::make_unique<Qt_Vestrel>();
    }
    ~WindowHost()
    {
        window.reset();
        SerialEnumerator::setExtraPortNames({});
    }

    template <typename T>
    T *w(const char *name) { return windowtesting::child<T>(*window, name); }

    QString dataPath() const { return m_dir.file(QStringLiteral("track.txt")); }
    void writeData(const QByteArray &content)
    {
        QFile file(dataPath());
        if (file.open(QIODevice::WriteOnly | QIODevice::Truncate))
            file.write(content);
    }
    void selectData() { windowtesting::selectDataFile(*window, dataPath()); }

    void setAuto(char port, bool on)
    {
        const QByteArray name = QByteArray("radioSerial") + port + (on ? "Auto" : "Manual");
        w<QRadioButton>(name.constData())->click();
    }
    void open(char port)
    {
        const QByteArray combo = QByteArray("comboSerialName") + port;
        w<QComboBox>(combo.constData())->setCurrentIndex(port == 'A' ? 0 : 1);
        const QByteArray button = QByteArray("buttonOpenSerial") + port;
        w<QPushButton>(button.constData())->click();
    }
    bool frequencyShown() { return w<QLabel>("labelFreq")->text() != QLatin1String("---.----- MHz"); }

    std::unique_ptr<Qt_Vestrel> window;

private:
    windowtesting::WorkDir m_dir;
};

} // namespace bench

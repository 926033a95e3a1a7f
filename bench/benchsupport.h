// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// What the benchmarks that run the main window share: the simulated station
// in its own process and the real main window set up on its ptys.

#include "benchreport.h"
#include "simstationprocess.h"
#include "windowtesting.h"

#include "serial/serialenumerator.h"

#include <QFile>
#include <QRadioButton>

#include <memory>

namespace bench {

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

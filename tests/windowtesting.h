// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// Helpers for tests that drive the real main window.

#include "tracking/qt_vestrel.h"

#include <QAction>
#include <QApplication>
#include <QDir>
#include <QFileDialog>
#include <QLineEdit>
#include <QStringList>
#include <QTemporaryDir>
#include <QTest>
#include <QPlainTextEdit>
#include <QTimer>

namespace windowtesting {

// A fresh working directory for store.cfg, left again on destruction.
class WorkDir
{
public:
    WorkDir()
        : m_previous(QDir::currentPath())
    {
        QDir::setCurrent(m_dir.path());
    }
    ~WorkDir() { QDir::setCurrent(m_previous); }
    QString path() const { return m_dir.path(); }
    QString file(const QString &name) const { return m_dir.filePath(name); }

private:
    QString m_previous;
    QTemporaryDir m_dir;
};

inline QPlainTextEdit *logView(QWidget &window)
{
    return window.findChild<QPlainTextEdit *>(QStringLiteral("textLog"));
}

inline QStringList logLines(QWidget &window)
{
    const QString text = logView(window)->toPlainText();
    return text.isEmpty() ? QStringList() : text.split(QLatin1Char('\n'));
}

template <typename T>
T *child(QWidget &window, const char *name)
{
    return window.findChild<T *>(QString::fromLatin1(name));
}

inline QAction *action(QWidget &window, const char *name)
{
    return window.findChild<QAction *>(QString::fromLatin1(name));
}

// Picks a file in the window's own "Open data file" dialog; an empty path cancels it.
inline void selectDataFile(Qt_Vestrel &window, const QString &path)
{
    QTimer::singleShot(0, [path] {
        auto *dialog = qobject_cast<QFileDialog *>(QApplication::activeModalWidget());
        if (!dialog)
            return;
        if (path.isEmpty()) {
            dialog->reject();
        } else {
            dialog->selectFile(path);
            QMetaObject::invokeMethod(dialog, "accept");
        }
    });
    window.on_actionOpen_data_file_activated();
}

// Types into a line edit and presses Return.
inline void enter(QLineEdit *line, const QString &text)
{
    line->setFocus();
    line->selectAll();
    QTest::keyClicks(line, text);
    QTest::keyClick(line, Qt::Key_Return);
}

} // namespace windowtesting

#include "serial/serialenumerator.h"
#include "sim/ptypeer.h"

#include <QComboBox>
#include <QLabel>
#include <QFile>
#include <QPushButton>
#include <QRadioButton>

#include <memory>

namespace windowtesting {

// A tracking file line: the Moon, Sun and Source positions and the two
// Doppler shifts in their fields, everything else 0.
inline QByteArray trackLine(double moonAz, double moonEl, double dopplerDx = 0, double dopplerHome = 0,
                            double sunAz = 0, double sunEl = 0, double sourceAz = 0, double sourceEl = 0)
{
    QList<double> fields(17, 0.0);
    fields[1] = moonAz;
    fields[2] = moonEl;
    fields[5] = sunAz;
    fields[6] = sunEl;
    fields[9] = sourceAz;
    fields[10] = sourceEl;
    fields[12] = 432.065;
    fields[13] = dopplerDx;
    fields[15] = dopplerHome;
    QStringList texts;
    for (double value : fields)
        texts << QString::number(value, 'g', 10);
    return texts.join(QLatin1Char(',')).toLatin1() + '\n';
}

// A working directory, a store.cfg, the two devices on ptys offered as the
// only ports (rotator first), and the real main window.
template <typename Rotator, typename Radio>
struct Station {
    // linkedPorts: the window is offered symbolic links to the two ptys (as
    // /dev/serial/by-id gives), so a device that comes back on another pty
    // keeps its port name once relinkPorts() has run.
    explicit Station(int repetitionSeconds = 600, bool linkedPorts = false, int messageDelayMs = 200)
    {
        QFile store(dir.file(QStringLiteral("store.cfg")));
        if (store.open(QIODevice::WriteOnly)) {
            store.write("filename: '" + dir.path().toLocal8Bit() + "'\nrepetition time: '"
                        + QByteArray::number(repetitionSeconds)
                        + "'\nelevation offset: '0'\nazimut offset: '0'\nmessage delay: '"
                        + QByteArray::number(messageDelayMs)
                        + "'\nazimuth rounding: '0.1'\nelevation rounding: '0.1'\nazimuth parking: '90'\n"
                          "elevation parking: '10'\n");
        }
        store.close();
        SerialEnumerator::setSystemPortsHidden(true);
        if (linkedPorts) {
            relinkPorts();
            SerialEnumerator::setExtraPortNames({linkA(), linkB()});
        } else {
            SerialEnumerator::setExtraPortNames({rotator.slavePath(), radio.slavePath()});
        }
        window = std::make_unique<Qt_Vestrel>();
    }
    QString linkA() const { return dir.file(QStringLiteral("rotator-line")); }
    QString linkB() const { return dir.file(QStringLiteral("radio-line")); }
    void relinkPorts()
    {
        QFile::remove(linkA());
        QFile::link(rotator.slavePath(), linkA());
        QFile::remove(linkB());
        QFile::link(radio.slavePath(), linkB());
    }
    ~Station() { SerialEnumerator::setExtraPortNames({}); }

    void writeData(const QByteArray &content)
    {
        QFile file(dataPath());
        if (file.open(QIODevice::WriteOnly | QIODevice::Truncate))
            file.write(content);
    }
    QString dataPath() const { return dir.file(QStringLiteral("track.txt")); }
    void selectData(const QByteArray &content)
    {
        writeData(content);
        selectDataFile(*window, dataPath());
    }

    template <typename T>
    T *w(const char *name) { return child<T>(*window, name); }

    void clickOpenA() { w<QPushButton>("buttonOpenSerialA")->click(); }
    void clickOpenB()
    {
        w<QComboBox>("comboSerialNameB")->setCurrentIndex(1);
        w<QPushButton>("buttonOpenSerialB")->click();
    }
    void setAutoA(bool on) { w<QRadioButton>(on ? "radioSerialAAuto" : "radioSerialAManual")->click(); }
    void setAutoB(bool on) { w<QRadioButton>(on ? "radioSerialBAuto" : "radioSerialBManual")->click(); }
    QStringList log() { return logLines(*window); }
    bool logged(const QString &line) { return log().contains(line); }
    void debugOn() { enter(w<QLineEdit>("lineElevationOffset"), QStringLiteral("debug")); }

    WorkDir dir;
    Rotator rotator;
    Radio radio;
    std::unique_ptr<Qt_Vestrel> window;
};

} // namespace windowtesting

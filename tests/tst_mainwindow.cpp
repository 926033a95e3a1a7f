// SPDX-License-Identifier: GPL-3.0-or-later
// The main window as the operator first meets it: form, start-up, debug mode,
// the settings dialogs and store.cfg.

#include "windowtesting.h"

#include "serial/serialenumerator.h"
#include "sim/ptypeer.h"
#include "settings/settingsfile.h"
#include "ui/hamlibmodeldialog.h"
#include "ui/parkingdialog.h"
#include "ui/skyplot.h"
#include "ui/roundingdialog.h"
#include "ui/timersettingdialog.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFile>
#include <QGroupBox>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalSpy>
#include <QStatusBar>
#include <QStyle>
#include <QStyleOptionFrame>
#include <QTimer>
#include <QtTest>

#include <memory>

using namespace windowtesting;

namespace {

QByteArray readFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

void writeFile(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(bytes);
}

QStringList menuEntries(QMenu *menu)
{
    QStringList entries;
    for (QAction *action : menu->actions())
        entries << (action->isSeparator() ? QStringLiteral("|") : action->text());
    return entries;
}

} // namespace

class tst_MainWindow : public QObject
{
    Q_OBJECT

private slots:
    void init()
    {
        SerialEnumerator::setSystemPortsHidden(true);
        SerialEnumerator::setExtraPortNames({});
    }

    void formAtStartWithoutPorts()
    {
        WorkDir dir;
        Qt_Vestrel window;
        QCOMPARE(window.objectName(), QStringLiteral("Qt_VestrelClass"));
        QCOMPARE(window.windowTitle(), QStringLiteral("Vestrel"));
        QCOMPARE(window.size(), QSize(550, 283));

        for (const char *name : {"comboSerialNameA", "comboSerialNameB"}) {
            QVERIFY(!child<QComboBox>(window, name)->isEnabled());
            QCOMPARE(child<QComboBox>(window, name)->count(), 0);
        }
        for (const char *name : {"buttonOpenSerialA", "buttonOpenSerialB", "buttonSerialSendA", "buttonSerialSendB"})
            QVERIFY(!child<QPushButton>(window, name)->isEnabled());
        for (const char *name : {"lineSerialSendA", "lineSerialSendB"})
            QVERIFY(!child<QLineEdit>(window, name)->isEnabled());
        for (const char *name : {"radioSerialAManual", "radioSerialBManual", "radioSerialAAuto", "radioSerialBAuto"})
            QVERIFY(!child<QRadioButton>(window, name)->isEnabled());
        QVERIFY(child<QRadioButton>(window, "radioSerialAManual")->isChecked());
        QVERIFY(child<QRadioButton>(window, "radioSerialBManual")->isChecked());
        QVERIFY(!child<QRadioButton>(window, "radioSerialAAuto")->isChecked());
        QCOMPARE(child<QLabel>(window, "labelSerialStatusA")->text(), QStringLiteral("Status: unknown"));
        QCOMPARE(child<QLabel>(window, "labelSerialStatusB")->text(), QStringLiteral("Status: unknown"));
        QCOMPARE(child<QLabel>(window, "labelFreq")->text(), QStringLiteral("---.----- MHz"));
        QCOMPARE(child<QLabel>(window, "labelFreqStart")->text(), QStringLiteral("---.----- MHz"));
        QCOMPARE(child<QLabel>(window, "labelFileAddress")->text(), QStringLiteral("Opened file: no file"));
        QCOMPARE(child<QGroupBox>(window, "groupSeialA")->title(), QStringLiteral("Serial port A - Rotator"));
        QCOMPARE(child<QGroupBox>(window, "groupSerialB")->title(), QStringLiteral("Serial port B - Transceiver"));
        QCOMPARE(child<QGroupBox>(window, "groupSystem")->title(), QStringLiteral("System parameters"));
        for (const char *name : {"checkDoppler", "check_PTT"}) {
            QVERIFY(!child<QCheckBox>(window, name)->isEnabled());
            QVERIFY(!child<QCheckBox>(window, name)->isChecked());
        }
        auto *frequency = child<QLineEdit>(window, "lineTransceiverFrequency");
        QVERIFY(frequency->text().isEmpty());
        QVERIFY(!frequency->isEnabled());

        auto *transceiver = child<QComboBox>(window, "comboTransceiver");
        QCOMPARE(transceiver->count(), 4);
        QCOMPARE(transceiver->itemText(0), QStringLiteral("Yaesu FT-817"));
        QCOMPARE(transceiver->itemText(1), QStringLiteral("Yaesu FT-847"));
        QCOMPARE(transceiver->itemText(2), QStringLiteral("Hamlib rigctld (network)"));
        QCOMPARE(transceiver->itemText(3), QStringLiteral("Hamlib radio"));
        QCOMPARE(transceiver->currentIndex(), 0);
        auto *rotator = child<QComboBox>(window, "comboRotator");
        QCOMPARE(rotator->count(), 3);
        QCOMPARE(rotator->itemText(0), QStringLiteral("Serial controller"));
        QCOMPARE(rotator->itemText(1), QStringLiteral("Hamlib rotctld (network)"));
        QCOMPARE(rotator->itemText(2), QStringLiteral("Hamlib rotator"));
        QCOMPARE(rotator->currentIndex(), 0);
        QVERIFY(!child<QLabel>(window, "labelAntennaPosition")->isVisibleTo(&window));

        const QStringList lines = logLines(window);
        QCOMPARE(lines.value(0), QStringLiteral("No serial port available"));
    }

    void actionsAndMenus()
    {
        WorkDir dir;
        Qt_Vestrel window;
        struct Expected {
            const char *name;
            const char *text;
            bool checkable;
            bool checked;
            bool enabled;
        };
        const Expected expected[] = {
            {"actionSetup_serial", "Setup serial", false, false, true},
            {"actionOpen_data_file", "Open data file", false, false, true},
            {"actionAbout", "About", false, false, true},
            {"actionSerial_port", "Serial port", false, false, true},
            {"actionTimer", "Timer", false, false, true},
            {"actionOffsets", "Rounding constants", false, false, true},
            {"actionDopDefault", "Doppler - Home", true, true, true},
            {"actionDopSource", "Doppler - Dx", true, false, true},
            {"actionRotSun", "Rotator - Sun", true, false, true},
            {"actionRotMoon", "Rotator - Moon", true, true, true},
            {"actionRotSource", "Rotator - Source", true, false, true},
            {"actionShow_log", "Show log", false, false, true},
            {"actionPark_rotator", "Park rotator", false, false, false},
            {"actionDopPTT", "Doppler - PTT", true, false, true},
        };
        QStringList order;
        for (QAction *a : window.findChildren<QAction *>(QString(), Qt::FindDirectChildrenOnly))
            if (!a->objectName().isEmpty())
                order << a->objectName();
        QStringList expectedOrder;
        for (const Expected &e : expected) {
            expectedOrder << QString::fromLatin1(e.name);
            QAction *a = action(window, e.name);
            QVERIFY2(a, e.name);
            QCOMPARE(a->text(), QString::fromLatin1(e.text));
            QCOMPARE(a->isCheckable(), e.checkable);
            QCOMPARE(a->isChecked(), e.checked);
            QCOMPARE(a->isEnabled(), e.enabled);
        }
        QCOMPARE(order, expectedOrder);

        QMenuBar *bar = window.menuBar();
        QCOMPARE(bar->objectName(), QStringLiteral("menubar"));
        QStringList titles;
        for (QAction *a : bar->actions())
            titles << a->text();
        QCOMPARE(titles, (QStringList {"File", "Settings", "Help"}));
        QCOMPARE(menuEntries(child<QMenu>(window, "menuFile")), (QStringList {"Open data file", "Show log"}));
        QCOMPARE(menuEntries(child<QMenu>(window, "menuSettings")),
                 (QStringList {"Serial port", "Timer", "Rounding constants", "|", "Doppler - Home", "Doppler - Dx", "|",
                               "Rotator - Sun", "Rotator - Moon", "Rotator - Source", "|", "Park rotator"}));
        QCOMPARE(menuEntries(child<QMenu>(window, "menuHelp")), (QStringList {"About"}));
        QCOMPARE(window.statusBar()->objectName(), QStringLiteral("statusbar"));

        // About does nothing; the rotator and Doppler entries stay one-of-N.
        action(window, "actionAbout")->trigger();
        action(window, "actionRotMoon")->trigger();
        QVERIFY(action(window, "actionRotMoon")->isChecked());
        action(window, "actionRotSun")->trigger();
        QVERIFY(action(window, "actionRotSun")->isChecked());
        QVERIFY(!action(window, "actionRotMoon")->isChecked());
        QVERIFY(!action(window, "actionRotSource")->isChecked());
        action(window, "actionDopDefault")->trigger();
        QVERIFY(action(window, "actionDopDefault")->isChecked());
        action(window, "actionDopSource")->trigger();
        QVERIFY(action(window, "actionDopSource")->isChecked());
        QVERIFY(!action(window, "actionDopDefault")->isChecked());
    }

    void sizesHoldWhenEnlarged()
    {
        WorkDir dir;
        Qt_Vestrel window;
        window.resize(1400, 700);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        QCOMPARE(child<QLineEdit>(window, "lineElevationOffset")->width(), 45);
        QCOMPARE(child<QLineEdit>(window, "lineAzimutOffset")->width(), 45);
        QVERIFY(child<QLineEdit>(window, "lineTransceiverFrequency")->width() <= 70);
        QVERIFY(child<QLabel>(window, "labelFreq")->width() >= 180);
        QVERIFY(child<QLabel>(window, "labelFreqStart")->width() >= 150);
        const QFont font = child<QLabel>(window, "labelFreq")->font();
        QCOMPARE(font.pointSize(), 16);
        QVERIFY(font.bold());
        QCOMPARE(child<QLabel>(window, "labelFreq")->alignment(), Qt::AlignRight | Qt::AlignVCenter);
    }

    void startWithThreePorts()
    {
        WorkDir dir;
        PtyPeer one, two, three;
        const QStringList names {one.slavePath(), two.slavePath(), three.slavePath()};
        SerialEnumerator::setExtraPortNames(names);
        Qt_Vestrel window;
        QCOMPARE(logLines(window).value(0), QStringLiteral("3 port(s) available"));
        for (const char *name : {"comboSerialNameA", "comboSerialNameB"}) {
            auto *combo = child<QComboBox>(window, name);
            QVERIFY(combo->isEnabled());
            QStringList items;
            for (int i = 0; i < combo->count(); ++i)
                items << combo->itemText(i);
            QCOMPARE(items, names);
        }
        QCOMPARE(child<QLabel>(window, "labelSerialStatusA")->text(), QStringLiteral("Status: disconnected"));
        QCOMPARE(child<QLabel>(window, "labelSerialStatusB")->text(), QStringLiteral("Status: disconnected"));
        for (const char *name : {"buttonOpenSerialA", "buttonOpenSerialB"})
            QVERIFY(child<QPushButton>(window, name)->isEnabled());
        for (const char *name : {"radioSerialAManual", "radioSerialBManual", "radioSerialAAuto", "radioSerialBAuto"})
            QVERIFY(child<QRadioButton>(window, name)->isEnabled());
        for (const char *name : {"buttonSerialSendA", "buttonSerialSendB"})
            QVERIFY(!child<QPushButton>(window, name)->isEnabled());
        QVERIFY(!action(window, "actionPark_rotator")->isEnabled());
    }

    void showLogKeepsEverything()
    {
        WorkDir dir;
        Qt_Vestrel window;
        auto *log = window.findChild<QDialog *>(QStringLiteral("logDialogClass"));
        QVERIFY(log);
        QVERIFY(!log->isVisible());
        action(window, "actionShow_log")->trigger();
        QVERIFY(log->isVisible());
        QCOMPARE(logLines(window).value(0), QStringLiteral("No serial port available"));
        log->close();
        enter(child<QLineEdit>(window, "lineAzimutOffset"), QStringLiteral("<b>x</b>"));
        action(window, "actionShow_log")->trigger();
        action(window, "actionShow_log")->trigger();
        QVERIFY(log->isVisible());
        QStringList lines = logLines(window);
        QVERIFY(lines.value(1).startsWith(QLatin1String("First start in this folder. ")));  // an empty folder
        lines.removeAt(1);
        QCOMPARE(lines, (QStringList {"No serial port available", "azimuth offset error"}));
    }

    void debugMode_data()
    {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<bool>("switchesOn");
        QTest::newRow("debug") << "debug" << true;
        QTest::newRow("Debug") << "Debug" << false;
        QTest::newRow("leading space") << " debug" << false;
        QTest::newRow("trailing text") << "debugx" << false;
    }

    void debugMode()
    {
        QFETCH(QString, typed);
        QFETCH(bool, switchesOn);
        WorkDir dir;
        Qt_Vestrel window;
        auto *field = child<QLineEdit>(window, "lineElevationOffset");

        window.timerTimeout();  // a repetition writes a debug line, shown only in debug mode
        for (const QString &line : logLines(window))
            QVERIFY2(!line.startsWith(QLatin1String("--")), qPrintable(line));

        enter(field, typed);
        QCOMPARE(window.isDebugMode(), switchesOn);
        if (switchesOn) {
            QCOMPARE(logLines(window).last(), QStringLiteral("--debug mode enabled"));
            QCOMPARE(field->text(), QStringLiteral("0"));
            window.timerTimeout();
            QCOMPARE(logLines(window).last(), QStringLiteral("--repetition timer expired"));
        } else {
            QCOMPARE(logLines(window).last(), QStringLiteral("elevation offset error"));
            QCOMPARE(field->text(), typed);
            window.timerTimeout();
            QVERIFY(!logLines(window).last().startsWith(QLatin1String("--")));
        }
    }

    void firstStartWritesDefaultsAndLoadsThem()
    {
        WorkDir dir;
        {
            Qt_Vestrel window;
            QCOMPARE(readFile(dir.file("store.cfg")),
                     QByteArray("filename: 'C:/'\nrepetition time: '2'\nelevation offset: '0'\nazimut offset: '0'\n"
                                "message delay: '200'\nazimuth rounding: '0.1'\nelevation rounding: '0.1'\n"
                                "azimuth parking: '90'\nelevation parking: '10'\n"));
            QCOMPARE(child<QLineEdit>(window, "lineRepetitionTime")->text(), QStringLiteral("2"));
            QCOMPARE(child<QLineEdit>(window, "lineMessageDelay")->text(), QStringLiteral("200"));
            QCOMPARE(child<QLineEdit>(window, "lineRoundingAzimuth")->text(), QStringLiteral("0.1"));
            QCOMPARE(child<QLineEdit>(window, "lineRoundingElevation")->text(), QStringLiteral("0.1"));
            QCOMPARE(child<QLineEdit>(window, "lineParkAzimuth")->text(), QStringLiteral("90"));
            QCOMPARE(child<QLineEdit>(window, "lineParkElevation")->text(), QStringLiteral("10"));
            QCOMPARE(child<QLineEdit>(window, "lineElevationOffset")->text(), QStringLiteral("0"));
            QCOMPARE(child<QLineEdit>(window, "lineAzimutOffset")->text(), QStringLiteral("0"));
        }
    }

    void storedValuesReachTheDialogs()
    {
        WorkDir dir;
        writeFile(dir.file("store.cfg"),
                  "filename: 'C:/'\nrepetition time: '70000'\nelevation offset: '1.5'\nazimut offset: '-2'\n"
                  "message delay: '250'\nazimuth rounding: '0.25'\nelevation rounding: '0.5'\n"
                  "azimuth parking: '180'\nelevation parking: '45'\n");
        Qt_Vestrel window;
        auto *timer = window.findChild<timerSettingdialog *>();
        QCOMPARE(timer->repetitionTime, quint32(4464));  // only 16 bits of the stored time
        QCOMPARE(child<QLineEdit>(window, "lineRepetitionTime")->text(), QStringLiteral("4464"));
        QCOMPARE(timer->messageDelay, quint32(250));
        QCOMPARE(window.findChild<roundingDialog *>()->azimuthRounding, 0.25);
        QCOMPARE(window.findChild<roundingDialog *>()->elevationRounding, 0.5);
        QCOMPARE(window.findChild<ParkingDialog *>()->azimuthParking, 180.0);
        QCOMPARE(window.findChild<ParkingDialog *>()->elevationParking, 45.0);
        QCOMPARE(child<QLineEdit>(window, "lineElevationOffset")->text(), QStringLiteral("1.5"));
        QCOMPARE(child<QLineEdit>(window, "lineAzimutOffset")->text(), QStringLiteral("-2"));
    }

    void offsetsAreSavedFromTheFieldsAtClose()
    {
        WorkDir dir;
        {
            Qt_Vestrel window;
            child<QLineEdit>(window, "lineElevationOffset")->setText(QStringLiteral("2.5"));  // never confirmed
            child<QLineEdit>(window, "lineAzimutOffset")->setText(QStringLiteral("abc"));
        }
        const QList<QByteArray> lines = readFile(dir.file("store.cfg")).split('\n');
        QCOMPARE(lines.value(2), QByteArray("elevation offset: '2.5'"));
        QCOMPARE(lines.value(3), QByteArray("azimut offset: '0'"));
    }

    void confirmedDialogsAreStored()
    {
        WorkDir dir;
        Qt_Vestrel window;
        action(window, "actionTimer")->trigger();
        auto *timer = window.findChild<timerSettingdialog *>();
        QVERIFY(timer->isVisible());
        enter(child<QLineEdit>(window, "lineRepetitionTime"), QStringLiteral("5"));
        // Return in the first field confirms both as typed so far.
        QCOMPARE(timer->repetitionTime, quint32(5));
        QVERIFY(!timer->isVisible());

        action(window, "actionOffsets")->trigger();
        auto *rounding = window.findChild<roundingDialog *>();
        QVERIFY(rounding->isVisible());
        child<QLineEdit>(window, "lineRoundingAzimuth")->setText(QStringLiteral("0.5"));
        child<QLineEdit>(window, "lineRoundingElevation")->setText(QStringLiteral("0.75"));
        QTest::mouseClick(child<QPushButton>(window, "buttonRoundingDialogConfirm"), Qt::LeftButton);
        QVERIFY(!rounding->isVisible());

        const QList<QByteArray> lines = readFile(dir.file("store.cfg")).split('\n');
        QCOMPARE(lines.value(1), QByteArray("repetition time: '5'"));
        QCOMPARE(lines.value(4), QByteArray("message delay: '200'"));
        QCOMPARE(lines.value(5), QByteArray("azimuth rounding: '0.5'"));
        QCOMPARE(lines.value(6), QByteArray("elevation rounding: '0.75'"));

        action(window, "actionSerial_port")->trigger();
        QVERIFY(window.findChild<QDialog *>(QStringLiteral("serialSettingsDialogClass"))->isVisible());
    }

    void unsavedSettingsAreReportedOnce()
    {
        WorkDir dir;
        QVERIFY(QDir().mkdir(QStringLiteral("store.cfg")));
        Qt_Vestrel window;
        action(window, "actionTimer")->trigger();
        enter(child<QLineEdit>(window, "lineRepetitionTime"), QStringLiteral("5"));
        action(window, "actionOffsets")->trigger();
        QTest::mouseClick(child<QPushButton>(window, "buttonRoundingDialogConfirm"), Qt::LeftButton);
        QCOMPARE(logLines(window).filter(QStringLiteral("settings")),
                 QStringList {"settings not saved: store.cfg: Is a directory"});
        QCOMPARE(window.findChild<timerSettingdialog *>()->repetitionTime, quint32(5));
    }

    void cancelledFileDialogKeepsTheStoredFolder()
    {
        WorkDir dir;
        const QString data = dir.file("track.txt");
        writeFile(data, "0,1,2,3,4,5,6,7,8,9,10,11,12,13,14,15,16\n");
        Qt_Vestrel window;
        selectDataFile(window, data);
        QCOMPARE(child<QLabel>(window, "labelFileAddress")->text(), QStringLiteral("Opened file: %1").arg(data));
        QCOMPARE(readFile(dir.file("store.cfg")).split('\n').value(0), "filename: '" + dir.path().toLocal8Bit() + "'");

        selectDataFile(window, QString());
        QCOMPARE(child<QLabel>(window, "labelFileAddress")->text(), QStringLiteral("Opened file: no file"));
        QCOMPARE(readFile(dir.file("store.cfg")).split('\n').value(0), "filename: '" + dir.path().toLocal8Bit() + "'");
    }

    // Offsets as store.cfg gives them or as a calibration applies them (the
    // demo's -1.18943/+0.679644 on the Sun): shown to the hundredth of a
    // degree the rotator commands carry, whole within the 45 pixel field at
    // the window's smallest size and at a large one; what the fields show is
    // what is in force and what store.cfg keeps.
    void offsetsFitTheirFields_data()
    {
        QTest::addColumn<bool>("applied");  // by a calibration; otherwise stored
        QTest::addColumn<double>("azimuth");
        QTest::addColumn<double>("elevation");
        QTest::addColumn<QString>("azimuthText");
        QTest::addColumn<QString>("elevationText");
        QTest::addColumn<QSize>("size");  // the window's; empty: the least it takes
        QTest::newRow("applied, smallest") << true << -1.18943 << 0.679644 << "-1.19" << "0.68" << QSize();
        QTest::newRow("applied, large") << true << -1.18943 << 0.679644 << "-1.19" << "0.68" << QSize(1400, 900);
        QTest::newRow("stored, smallest") << false << -1.18943 << 0.679644 << "-1.19" << "0.68" << QSize();
        QTest::newRow("stored, large") << false << -1.18943 << 0.679644 << "-1.19" << "0.68" << QSize(1400, 900);
        QTest::newRow("a half up, a minus zero") << false << -3.005 << -0.004 << "-3.01" << "0" << QSize();
        QTest::newRow("whole and tenths") << true << 2.0 << -0.5 << "2" << "-0.5" << QSize();
        QTest::newRow("tens, smallest") << false << -9.876 << 45.0 << "-9.88" << "45" << QSize();
    }
    void offsetsFitTheirFields()
    {
        QFETCH(bool, applied);
        QFETCH(double, azimuth);
        QFETCH(double, elevation);
        QFETCH(QString, azimuthText);
        QFETCH(QString, elevationText);
        QFETCH(QSize, size);
        WorkDir dir;
        if (!applied)
            writeFile(dir.file("store.cfg"), "filename: 'C:/'\nrepetition time: '2'\nelevation offset: '"
                                                 + QByteArray::number(elevation) + "'\nazimut offset: '"
                                                 + QByteArray::number(azimuth)
                                                 + "'\nmessage delay: '200'\nazimuth rounding: '0.1'\n"
                                                   "elevation rounding: '0.1'\nazimuth parking: '90'\n"
                                                   "elevation parking: '10'\n");
        {
            Qt_Vestrel window;
            if (applied)
                window.station().addOffsets(azimuth, elevation);  // as the calibration's Apply does
            window.resize(size.isEmpty() ? window.minimumSizeHint() : size);
            window.show();
            QVERIFY(QTest::qWaitForWindowExposed(&window));
            for (const auto &[name, text] : {std::pair {"lineAzimutOffset", azimuthText},
                                             std::pair {"lineElevationOffset", elevationText}}) {
                auto *field = child<QLineEdit>(window, name);
                QCOMPARE(field->text(), text);
                QCOMPARE(field->width(), 45);
                // The text's room: the style's contents less the line edit's own two pixels a side.
                QStyleOptionFrame option;
                option.initFrom(field);
                option.rect = field->rect();
                option.lineWidth = field->style()->pixelMetric(QStyle::PM_DefaultFrameWidth, &option, field);
                const int room = field->style()->subElementRect(QStyle::SE_LineEditContents, &option, field).width()
                    - field->textMargins().left() - field->textMargins().right() - 4;
                QVERIFY2(field->fontMetrics().horizontalAdvance(text) <= room,
                         qPrintable(QStringLiteral("%1 is %2 px, the field has %3")
                                        .arg(text)
                                        .arg(field->fontMetrics().horizontalAdvance(text))
                                        .arg(room)));
            }
            // Offsets are taken at single precision, as store.cfg keeps them.
            QCOMPARE(float(window.station().azimuthOffset()), azimuthText.toFloat());
            QCOMPARE(float(window.station().elevationOffset()), elevationText.toFloat());
            if (applied)
                QCOMPARE(SettingsFile().readAzimutOffset(), azimuthText.toFloat());
        }
        const QList<QByteArray> lines = readFile(dir.file("store.cfg")).split('\n');
        QCOMPARE(lines.value(2), "elevation offset: '" + elevationText.toLatin1() + "'");
        QCOMPARE(lines.value(3), "azimut offset: '" + azimuthText.toLatin1() + "'");
    }

    // An offset typed with more decimals is taken to the hundredth and shown
    // so; one that is no number stays as typed, the old offset in force.
    void typedOffsetsShownInForce_data()
    {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QString>("shown");
        QTest::addColumn<float>("inForce");
        QTest::newRow("hundredths") << "0.679644" << "0.68" << 0.68f;
        QTest::newRow("plus sign") << "+1.5" << "1.5" << 1.5f;
        QTest::newRow("no number") << "abc" << "abc" << 0.0f;
    }
    void typedOffsetsShownInForce()
    {
        QFETCH(QString, typed);
        QFETCH(QString, shown);
        QFETCH(float, inForce);
        WorkDir dir;
        Qt_Vestrel window;
        enter(child<QLineEdit>(window, "lineAzimutOffset"), typed);
        QCOMPARE(child<QLineEdit>(window, "lineAzimutOffset")->text(), shown);
        QCOMPARE(float(window.station().azimuthOffset()), inForce);
    }

    // Picked from the list as the operator picks it (the key moves the
    // choice, as the mouse does: the index changes and the entry is
    // activated), the type opens Hamlib's model list once; picked again
    // after it closed, once again.
    void hamlibModelListOpensOnce_data()
    {
        QTest::addColumn<QString>("combo");
        QTest::addColumn<QString>("type");
        QTest::newRow("radio") << "comboTransceiver" << "Hamlib radio";
        QTest::newRow("rotator") << "comboRotator" << "Hamlib rotator";
    }
    void hamlibModelListOpensOnce()
    {
        QFETCH(QString, combo);
        QFETCH(QString, type);
        WorkDir dir;
        Qt_Vestrel window;
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        auto *list = window.findChild<QComboBox *>(combo);
        list->setCurrentIndex(list->findText(type) - 1);  // the daemon, just above
        QTest::keyClick(list, Qt::Key_Down);
        QCOMPARE(list->currentText(), type);
        QTRY_VERIFY(!window.findChildren<HamlibModelDialog *>().isEmpty());
        QCoreApplication::processEvents();
        QCOMPARE(window.findChildren<HamlibModelDialog *>().size(), 1);

        window.findChild<HamlibModelDialog *>()->reject();
        QTRY_VERIFY(window.findChildren<HamlibModelDialog *>().isEmpty());
        QTest::keyClick(list, Qt::Key_Up);
        QTest::keyClick(list, Qt::Key_Down);
        QTRY_VERIFY(!window.findChildren<HamlibModelDialog *>().isEmpty());
        QCOMPARE(window.findChildren<HamlibModelDialog *>().size(), 1);
    }

    // Resumed at start, the window opens the data file it had, and its target
    // shows where the file puts it; a file gone since is said, and no place
    // is shown or drawn for a target nobody read: not on the panel, not on
    // the sky plot (no mark at north on the horizon).
    void resumeReopensTheDataFile_data()
    {
        QTest::addColumn<bool>("fileKept");
        QTest::newRow("file there") << true;
        QTest::newRow("file gone") << false;
    }
    void resumeReopensTheDataFile()
    {
        QFETCH(bool, fileKept);
        WorkDir dir;
        const QString data = dir.file("azel.dat");
        writeFile(data, "12:00:00,227.8,30.5,Moon\n12:00:00,100.9,10.2,Sun\n12:00:00,  ---,  ---,Source\n"
                        "432,-345.0,12.5,-612.0,-3.5,Doppler, R\n");
        {
            Qt_Vestrel window;
            selectDataFile(window, data);
            action(window, "actionRotSun")->trigger();
        }
        if (!fileKept)
            QVERIFY(QFile::remove(data));
        Qt_Vestrel window;
        window.resize(900, 700);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        QVERIFY(action(window, "actionRotSun")->isChecked());
        window.timerTimeout();  // a repetition reads the file
        auto *target = child<QLabel>(window, "labelPanelTarget");
        if (fileKept) {
            QCOMPARE(child<QLabel>(window, "labelFileAddress")->text(), QStringLiteral("Opened file: %1").arg(data));
            QTRY_COMPARE(target->text(), QStringLiteral("Sun: az 100.90, el 10.20"));
            return;
        }
        QCOMPARE(child<QLabel>(window, "labelFileAddress")->text(), QStringLiteral("Opened file: no file"));
        QVERIFY(logLines(window).contains(QStringLiteral("data file not reopened: %1 is no longer there").arg(data)));
        QTRY_COMPARE(target->text(), QStringLiteral("Sun: ---"));
        // Nothing in the target's or the antenna's colours at north on the horizon.
        auto *plot = window.findChild<SkyPlot *>();
        const QImage image = plot->grab().toImage();
        const int labelRoom = plot->fontMetrics().height() + 4;
        const double radius = std::max(10.0, std::min(plot->width(), plot->height()) / 2.0 - labelRoom);
        const QPoint north(plot->width() / 2, int(plot->height() / 2.0 - radius));
        for (int y = north.y() - 10; y <= north.y() + 10; ++y)
            for (int x = north.x() - 10; x <= north.x() + 10; ++x) {
                const QColor c = image.pixelColor(x, y);
                QVERIFY2(c.saturation() < 60, qPrintable(QStringLiteral("a mark at %1,%2: %3")
                                                             .arg(x)
                                                             .arg(y)
                                                             .arg(c.name())));
            }
    }

    // Chosen in the menu where the sky computed here has no radio source,
    // the Source is refused with the reason and the target in force stays
    // ticked.
    void sourceRefusedInTheMenu()
    {
        WorkDir dir;
        writeFile(dir.file("source.cfg"), "tracking source: 'built-in'\nhome locator: 'JO70FD'\n");
        Qt_Vestrel window;
        QVERIFY(window.station().sourceSettings().builtIn);
        action(window, "actionRotSun")->trigger();
        action(window, "actionRotSource")->trigger();
        QVERIFY(!action(window, "actionRotSource")->isChecked());
        QVERIFY(action(window, "actionRotSun")->isChecked());
        QCOMPARE(window.station().target(), TrackingTarget::Sun);
        QCOMPARE(logLines(window).last(), QStringLiteral("Source refused: no radio source is chosen for the sky "
                                                         "computed here (\"Tracking source...\")"));
    }
};

QTEST_MAIN(tst_MainWindow)
#include "tst_mainwindow.moc"

// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/parkingdialog.h"
#include "ui/roundingdialog.h"
#include "ui/timersettingdialog.h"

#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QtTest>

#include <memory>

namespace {

QDialog *makeDialog(const QString &kind, QWidget *parent)
{
    if (kind == "timer")
        return new timerSettingdialog(parent);
    if (kind == "rounding")
        return new roundingDialog(parent);
    return new ParkingDialog(parent);
}

template <typename T>
T *child(QWidget *dialog, const char *name)
{
    T *widget = dialog->findChild<T *>(QLatin1String(name));
    if (!widget)
        qFatal("no %s", name);
    return widget;
}

QLineEdit *line(QWidget *dialog, const char *name)
{
    return child<QLineEdit>(dialog, name);
}

void retype(QLineEdit *edit, const QString &text)
{
    edit->clear();
    QTest::keyClicks(edit, text);
}

void click(QWidget *dialog, const char *button)
{
    QTest::mouseClick(child<QPushButton>(dialog, button), Qt::LeftButton);
}

void showDialog(QDialog *dialog)
{
    dialog->show();
    QVERIFY(QTest::qWaitForWindowExposed(dialog));
}

} // namespace

class DialogsTest : public QObject
{
    Q_OBJECT

private slots:
    void init()
    {
        // Slots attached by name must each find their signal.
        QTest::failOnWarning(QRegularExpression("No matching signal"));
        m_host = std::make_unique<QWidget>();
    }
    void cleanup() { m_host.reset(); }

    void window_data();
    void window();
    void formTexts_data();
    void formTexts();
    void buttons();

    void timerBuiltWithoutSetters();
    void timerConfirm_data();
    void timerConfirm();
    void timerStornoAndEscape();
    void timerReturnPressesConfirm();

    void roundingConfirm_data();
    void roundingConfirm();
    void roundingStornoAfterRefusal();
    void roundingReturnPressesConfirm();

    void parkingPark_data();
    void parkingPark();
    void parkingParkTwiceStaysOpen();
    void parkingCloseAndEscape_data();
    void parkingCloseAndEscape();
    void parkingReturnPressesClose();

private:
    std::unique_ptr<QWidget> m_host;
};

void DialogsTest::window_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QString>("objectName");
    QTest::addColumn<QString>("title");
    QTest::addColumn<QSize>("size");

    QTest::newRow("timer") << "timer" << "timerSettingdialogClass" << "Timer settings"
                           << QSize(193, 103);
    QTest::newRow("rounding") << "rounding" << "roundingDialogClass" << "Rounding constants"
                              << QSize(254, 102);
    QTest::newRow("parking") << "parking" << "ParkingDialogClass" << "Rotator parking"
                             << QSize(171, 102);
}

void DialogsTest::window()
{
    QFETCH(QString, kind);
    QFETCH(QString, objectName);
    QFETCH(QString, title);
    QFETCH(QSize, size);

    QDialog *dialog = makeDialog(kind, m_host.get());
    QCOMPARE(dialog->objectName(), objectName);
    QCOMPARE(dialog->windowTitle(), title);
    QCOMPARE(dialog->size(), size);
    QCOMPARE(dialog->windowModality(), Qt::WindowModal);
    QCOMPARE(dialog->parentWidget(), m_host.get());
    QVERIFY(!dialog->isVisible());

    auto *grid = qobject_cast<QGridLayout *>(dialog->layout());
    QVERIFY(grid);
    QCOMPARE(grid->objectName(), QStringLiteral("gridLayout"));
    QCOMPARE(grid->spacing(), 6);
    QCOMPARE(grid->contentsMargins(), QMargins(11, 11, 11, 11));
}

void DialogsTest::formTexts_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QString>("object");
    QTest::addColumn<QString>("text");

    // Line edits show the values at construction, before any setter.
    const QList<QStringList> rows = {
        {"timer", "labelRepetitionTime", "Repetition time"},
        {"timer", "lineRepetitionTime", "1"},
        {"timer", "labelRepetitionTimeUnit", "s"},
        {"timer", "labelMessageDelay", "Readout time"},
        {"timer", "lineMessageDelay", "0"},
        {"timer", "labelMessageDelayUnit", "ms"},
        {"timer", "buttonTimerSettingStorno", "Storno"},
        {"timer", "buttonTimerSettingConfirm", "Confirm"},
        {"rounding", "labelAzimuthRounding", "Azimuth rounding constant"},
        {"rounding", "lineRoundingAzimuth", "0.1"},
        {"rounding", "labelElevationRounding", "Elevation rounding constant"},
        {"rounding", "lineRoundingElevation", "0.1"},
        {"rounding", "buttonRoundingDialogStorno", "Storno"},
        {"rounding", "buttonRoundingDialogConfirm", "Confirm"},
        {"parking", "labelParkAzimuth", "Azimuth"},
        {"parking", "lineParkAzimuth", "90"},
        {"parking", "labelParkElevation", "Elevation"},
        {"parking", "lineParkElevation", "10"},
        {"parking", "buttonParkPark", "Park"},
        {"parking", "buttonParkClose", "Close"},
    };
    for (const QStringList &row : rows)
        QTest::addRow("%s %s", qPrintable(row[0]), qPrintable(row[1])) << row[0] << row[1] << row[2];
}

void DialogsTest::formTexts()
{
    QFETCH(QString, kind);
    QFETCH(QString, object);
    QFETCH(QString, text);

    QDialog *dialog = makeDialog(kind, m_host.get());
    QWidget *widget = dialog->findChild<QWidget *>(object);
    QVERIFY(widget);
    QCOMPARE(widget->property("text").toString(), text);
    if (auto *edit = qobject_cast<QLineEdit *>(widget)) {
        QVERIFY(!edit->validator());
        QCOMPARE(edit->inputMask(), QString());
    }
}

void DialogsTest::buttons()
{
    timerSettingdialog timer(m_host.get());
    roundingDialog rounding(m_host.get());
    ParkingDialog parking(m_host.get());
    const QSizePolicy fixed(QSizePolicy::Fixed, QSizePolicy::Fixed);

    auto *timerConfirm = child<QPushButton>(&timer, "buttonTimerSettingConfirm");
    auto *timerStorno = child<QPushButton>(&timer, "buttonTimerSettingStorno");
    QVERIFY(timerConfirm->isDefault());
    QVERIFY(!timerStorno->isDefault());
    QCOMPARE(timerConfirm->sizePolicy(), fixed);
    QCOMPARE(timerStorno->sizePolicy(), fixed);

    auto *roundingConfirm = child<QPushButton>(&rounding, "buttonRoundingDialogConfirm");
    auto *roundingStorno = child<QPushButton>(&rounding, "buttonRoundingDialogStorno");
    QVERIFY(roundingConfirm->isDefault());
    QVERIFY(!roundingConfirm->autoDefault());
    QVERIFY(!roundingStorno->autoDefault());
    QCOMPARE(roundingConfirm->sizePolicy(), fixed);
    QCOMPARE(roundingStorno->sizePolicy(), fixed);
    QCOMPARE(roundingStorno->minimumSize(), QSize(75, 0));
    QVERIFY(rounding.isModal());

    QVERIFY(child<QPushButton>(&parking, "buttonParkClose")->isDefault());
    QVERIFY(!child<QPushButton>(&parking, "buttonParkPark")->isDefault());
    QVERIFY(parking.isModal());
}

void DialogsTest::timerBuiltWithoutSetters()
{
    timerSettingdialog dialog(m_host.get());
    QSignalSpy confirmed(&dialog, &timerSettingdialog::timeConfirmed);
    showDialog(&dialog);
    QCOMPARE(dialog.repetitionTime, 1u);
    QCOMPARE(dialog.messageDelay, 0u);

    click(&dialog, "buttonTimerSettingConfirm");
    QCOMPARE(confirmed.count(), 0);
    QVERIFY(dialog.isVisible());

    retype(line(&dialog, "lineMessageDelay"), "10");
    click(&dialog, "buttonTimerSettingConfirm");
    QCOMPARE(confirmed.count(), 1);
    QCOMPARE(dialog.messageDelay, 10u);
    QVERIFY(!dialog.isVisible());
}

void DialogsTest::timerConfirm_data()
{
    QTest::addColumn<QString>("repetition");
    QTest::addColumn<QString>("delay");
    QTest::addColumn<bool>("accepted");

    QTest::newRow("typical") << "5" << "300" << true;
    QTest::newRow("repetition 0") << "0" << "200" << true;
    QTest::newRow("readout 10") << "2" << "10" << true;
    QTest::newRow("readout 9") << "2" << "9" << false;
    QTest::newRow("readout 5") << "2" << "5" << false;
    QTest::newRow("letters in repetition") << "abc" << "200" << false;
    QTest::newRow("letters in readout") << "2" << "2x" << false;
    QTest::newRow("fraction") << "2.5" << "200" << false;
    QTest::newRow("empty") << "" << "200" << false;
    QTest::newRow("negative repetition") << "-1" << "200" << false;
    QTest::newRow("negative readout") << "2" << "-300" << false;
}

void DialogsTest::timerConfirm()
{
    QFETCH(QString, repetition);
    QFETCH(QString, delay);
    QFETCH(bool, accepted);

    timerSettingdialog dialog(m_host.get());
    dialog.setRepetitionTime(2);
    dialog.setMessageDelay(200);
    QSignalSpy confirmed(&dialog, &timerSettingdialog::timeConfirmed);
    showDialog(&dialog);

    retype(line(&dialog, "lineRepetitionTime"), repetition);
    retype(line(&dialog, "lineMessageDelay"), delay);
    click(&dialog, "buttonTimerSettingConfirm");

    QCOMPARE(confirmed.count(), accepted ? 1 : 0);
    QCOMPARE(dialog.isVisible(), !accepted);
    QCOMPARE(dialog.repetitionTime, accepted ? repetition.toUInt() : 2u);
    QCOMPARE(dialog.messageDelay, accepted ? delay.toUInt() : 200u);
    QCOMPARE(line(&dialog, "lineRepetitionTime")->text(), repetition);
    QCOMPARE(line(&dialog, "lineMessageDelay")->text(), delay);
}

void DialogsTest::timerStornoAndEscape()
{
    timerSettingdialog dialog(m_host.get());
    dialog.setRepetitionTime(65535);
    dialog.setMessageDelay(200);
    QCOMPARE(line(&dialog, "lineRepetitionTime")->text(), QStringLiteral("65535"));
    QSignalSpy confirmed(&dialog, &timerSettingdialog::timeConfirmed);

    // Escape only hides: the typed text stays for the next showing.
    showDialog(&dialog);
    retype(line(&dialog, "lineMessageDelay"), "500");
    QTest::keyClick(line(&dialog, "lineMessageDelay"), Qt::Key_Escape);
    QVERIFY(!dialog.isVisible());
    QCOMPARE(dialog.messageDelay, 200u);
    QCOMPARE(line(&dialog, "lineMessageDelay")->text(), QStringLiteral("500"));

    showDialog(&dialog);
    click(&dialog, "buttonTimerSettingStorno");
    QVERIFY(!dialog.isVisible());
    QCOMPARE(dialog.messageDelay, 200u);
    QCOMPARE(line(&dialog, "lineMessageDelay")->text(), QStringLiteral("200"));
    QCOMPARE(confirmed.count(), 0);
}

void DialogsTest::timerReturnPressesConfirm()
{
    timerSettingdialog dialog(m_host.get());
    dialog.setMessageDelay(200);
    QSignalSpy confirmed(&dialog, &timerSettingdialog::timeConfirmed);
    showDialog(&dialog);
    retype(line(&dialog, "lineRepetitionTime"), "7");
    QTest::keyClick(line(&dialog, "lineRepetitionTime"), Qt::Key_Return);
    QCOMPARE(confirmed.count(), 1);
    QCOMPARE(dialog.repetitionTime, 7u);
    QVERIFY(!dialog.isVisible());
}

void DialogsTest::roundingConfirm_data()
{
    QTest::addColumn<QString>("azimuth");
    QTest::addColumn<QString>("elevation");
    QTest::addColumn<bool>("accepted");
    QTest::addColumn<double>("azimuthValue");
    QTest::addColumn<double>("elevationValue");

    QTest::newRow("half and negative") << "0.5" << "-2" << true << 0.5 << -2.0;
    QTest::newRow("single precision") << "0.3" << "0" << true << double(0.3f) << 0.0;
    QTest::newRow("letters in azimuth") << "abc" << "1" << false << 0.1 << 0.1;
    QTest::newRow("letters in elevation") << "1" << "1x" << false << 0.1 << 0.1;
    QTest::newRow("empty") << "1" << "" << false << 0.1 << 0.1;
}

void DialogsTest::roundingConfirm()
{
    QFETCH(QString, azimuth);
    QFETCH(QString, elevation);
    QFETCH(bool, accepted);
    QFETCH(double, azimuthValue);
    QFETCH(double, elevationValue);

    roundingDialog dialog(m_host.get());
    QSignalSpy confirmed(&dialog, &roundingDialog::roundingConfirmed);
    showDialog(&dialog);
    retype(line(&dialog, "lineRoundingAzimuth"), azimuth);
    retype(line(&dialog, "lineRoundingElevation"), elevation);
    click(&dialog, "buttonRoundingDialogConfirm");

    QCOMPARE(confirmed.count(), accepted ? 1 : 0);
    QCOMPARE(dialog.isVisible(), !accepted);
    QCOMPARE(dialog.azimuthRounding, azimuthValue);
    QCOMPARE(dialog.elevationRounding, elevationValue);
}

void DialogsTest::roundingStornoAfterRefusal()
{
    roundingDialog dialog(m_host.get());
    dialog.setAzimuthRounding(123.4567);
    dialog.setElevationRounding(0.25);
    QCOMPARE(line(&dialog, "lineRoundingAzimuth")->text(), QStringLiteral("123.457"));
    showDialog(&dialog);

    retype(line(&dialog, "lineRoundingAzimuth"), "abc");
    click(&dialog, "buttonRoundingDialogConfirm");
    QVERIFY(dialog.isVisible());
    QCOMPARE(line(&dialog, "lineRoundingAzimuth")->text(), QStringLiteral("abc"));

    click(&dialog, "buttonRoundingDialogStorno");
    QVERIFY(!dialog.isVisible());
    QCOMPARE(line(&dialog, "lineRoundingAzimuth")->text(), QStringLiteral("123.457"));
    QCOMPARE(line(&dialog, "lineRoundingElevation")->text(), QStringLiteral("0.25"));
    QCOMPARE(dialog.azimuthRounding, 123.4567);
}

void DialogsTest::roundingReturnPressesConfirm()
{
    roundingDialog dialog(m_host.get());
    QSignalSpy confirmed(&dialog, &roundingDialog::roundingConfirmed);
    showDialog(&dialog);
    retype(line(&dialog, "lineRoundingElevation"), "0.5");
    QTest::keyClick(line(&dialog, "lineRoundingElevation"), Qt::Key_Return);
    QCOMPARE(confirmed.count(), 1);
    QCOMPARE(dialog.elevationRounding, 0.5);
}

void DialogsTest::parkingPark_data()
{
    QTest::addColumn<QString>("azimuth");
    QTest::addColumn<QString>("elevation");
    QTest::addColumn<bool>("accepted");

    QTest::newRow("upper bounds") << "360" << "90" << true;
    QTest::newRow("negative azimuth bound") << "-360" << "90" << true;
    QTest::newRow("negative elevation bound") << "0" << "-90" << true;
    QTest::newRow("fraction") << "123.5" << "45.25" << true;
    QTest::newRow("elevation 90.5") << "90" << "90.5" << false;
    QTest::newRow("azimuth 361") << "361" << "10" << false;
    QTest::newRow("azimuth -361") << "-361" << "10" << false;
    QTest::newRow("letters") << "north" << "10" << false;
    QTest::newRow("empty elevation") << "90" << "" << false;
}

void DialogsTest::parkingPark()
{
    QFETCH(QString, azimuth);
    QFETCH(QString, elevation);
    QFETCH(bool, accepted);

    ParkingDialog dialog(m_host.get());
    QSignalSpy confirmed(&dialog, &ParkingDialog::parkingConfirmed);
    QSignalSpy closed(&dialog, &ParkingDialog::parkingClosed);
    showDialog(&dialog);
    retype(line(&dialog, "lineParkAzimuth"), azimuth);
    retype(line(&dialog, "lineParkElevation"), elevation);
    click(&dialog, "buttonParkPark");

    QCOMPARE(confirmed.count(), accepted ? 1 : 0);
    QCOMPARE(closed.count(), 0);
    QVERIFY(dialog.isVisible());
    QCOMPARE(dialog.azimuthParking, accepted ? azimuth.toDouble() : 90.0);
    QCOMPARE(dialog.elevationParking, accepted ? elevation.toDouble() : 10.0);
}

void DialogsTest::parkingParkTwiceStaysOpen()
{
    ParkingDialog dialog(m_host.get());
    QSignalSpy confirmed(&dialog, &ParkingDialog::parkingConfirmed);
    showDialog(&dialog);
    click(&dialog, "buttonParkPark");
    retype(line(&dialog, "lineParkAzimuth"), "180");
    click(&dialog, "buttonParkPark");
    QCOMPARE(confirmed.count(), 2);
    QCOMPARE(dialog.azimuthParking, 180.0);
    QVERIFY(dialog.isVisible());
}

void DialogsTest::parkingCloseAndEscape_data()
{
    QTest::addColumn<bool>("escape");
    QTest::newRow("Close") << false;
    QTest::newRow("Escape") << true;
}

void DialogsTest::parkingCloseAndEscape()
{
    QFETCH(bool, escape);

    ParkingDialog dialog(m_host.get());
    dialog.setAzimuthParking(45);
    dialog.setElevationParking(5);
    QSignalSpy confirmed(&dialog, &ParkingDialog::parkingConfirmed);
    QSignalSpy closed(&dialog, &ParkingDialog::parkingClosed);
    showDialog(&dialog);

    retype(line(&dialog, "lineParkAzimuth"), "200");
    retype(line(&dialog, "lineParkElevation"), "abc");
    if (escape)
        QTest::keyClick(line(&dialog, "lineParkElevation"), Qt::Key_Escape);
    else
        click(&dialog, "buttonParkClose");

    QCOMPARE(closed.count(), 1);
    QCOMPARE(confirmed.count(), 0);
    QVERIFY(!dialog.isVisible());
    QCOMPARE(line(&dialog, "lineParkAzimuth")->text(), QStringLiteral("45"));
    QCOMPARE(line(&dialog, "lineParkElevation")->text(), QStringLiteral("5"));
    QCOMPARE(dialog.azimuthParking, 45.0);
}

void DialogsTest::parkingReturnPressesClose()
{
    ParkingDialog dialog(m_host.get());
    QSignalSpy confirmed(&dialog, &ParkingDialog::parkingConfirmed);
    QSignalSpy closed(&dialog, &ParkingDialog::parkingClosed);
    showDialog(&dialog);
    retype(line(&dialog, "lineParkAzimuth"), "100");
    QTest::keyClick(line(&dialog, "lineParkAzimuth"), Qt::Key_Return);
    QCOMPARE(closed.count(), 1);
    QCOMPARE(confirmed.count(), 0);
    QCOMPARE(dialog.azimuthParking, 90.0);
    QVERIFY(!dialog.isVisible());
}

QTEST_MAIN(DialogsTest)
#include "tst_dialogs.moc"

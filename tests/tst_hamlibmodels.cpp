// SPDX-License-Identifier: GPL-3.0-or-later
// The "Hamlib radio" and "Hamlib rotator" types in the real window: the model
// list is Hamlib's whole list (counted against rigctl -l and rotctl -l),
// searched as the operator types, and the model chosen there drives the
// simulated FT-817 through Hamlib's own backend, kept across a restart.

#include "windowtesting.h"

#include "linkedhamlib/hamlibmodels.h"
#include "sim/simrotator.h"
#include "sim/simtransceiver.h"
#include "ui/hamlibmodeldialog.h"

#include <QDialogButtonBox>
#include <QLabel>
#include <QListView>
#include <QProcess>
#include <QPushButton>
#include <QStandardPaths>
#include <QtTest>

using namespace windowtesting;

namespace {

// The models Hamlib's own client lists: one line each that starts with its number.
int listedByHamlib(const QString &program)
{
    QProcess client;
    client.start(program, {QStringLiteral("-l")});
    if (!client.waitForFinished(10000))
        return -1;
    int models = 0;
    for (const QByteArray &line : client.readAllStandardOutput().split('\n'))
        if (!line.trimmed().isEmpty() && std::isdigit(uchar(line.trimmed().at(0))))
            ++models;
    return models;
}

QList<int> shownModels(HamlibModelDialog &dialog)
{
    QList<int> numbers;
    const QAbstractItemModel *shown = dialog.findChild<QListView *>(QStringLiteral("listHamlibModels"))->model();
    for (int row = 0; row < shown->rowCount(); ++row)
        numbers << shown->index(row, 0).data(Qt::UserRole + 1).toInt();
    return numbers;
}

} // namespace

class tst_HamlibModels : public QObject
{
    Q_OBJECT

private slots:
    void wholeListIsHamlibs_data()
    {
        QTest::addColumn<bool>("rotator");
        QTest::addColumn<QString>("program");
        QTest::newRow("radios") << false << QStringLiteral("rigctl");
        QTest::newRow("rotators") << true << QStringLiteral("rotctl");
    }
    void wholeListIsHamlibs()
    {
        QFETCH(bool, rotator);
        QFETCH(QString, program);
        if (QStandardPaths::findExecutable(program).isEmpty())
            QSKIP("Hamlib's programs are not installed");
        HamlibModelDialog dialog(rotator, {});
        QCOMPARE(int(shownModels(dialog).size()), listedByHamlib(program));
    }

    // Every word typed, in any order and any case, narrows the list; the
    // numbers are those rigctl -l and rotctl -l give.
    void searchAsYouType_data()
    {
        QTest::addColumn<bool>("rotator");
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QList<int>>("models");
        QTest::newRow("maker and model") << false << QStringLiteral("yaesu 817") << QList<int> {1020};
        QTest::newRow("any order, any case") << false << QStringLiteral("817 YAESU") << QList<int> {1020};
        QTest::newRow("a dash in the name") << false << QStringLiteral("icom ic-9700") << QList<int> {3081};
        QTest::newRow("two left, sorted by model") << true << QStringLiteral("spid rot2") << QList<int> {903, 901};
        QTest::newRow("nothing") << false << QStringLiteral("nonesuch") << QList<int> {};
        QTest::newRow("a pattern is text") << false << QStringLiteral(".*") << QList<int> {};
    }
    void searchAsYouType()
    {
        QFETCH(bool, rotator);
        QFETCH(QString, typed);
        QFETCH(QList<int>, models);
        HamlibModelDialog dialog(rotator, {});
        QTest::keyClicks(dialog.findChild<QLineEdit *>(QStringLiteral("lineHamlibSearch")), typed);
        QCOMPARE(shownModels(dialog), models);
        // One model left is the choice; none or several, nothing is.
        QCOMPARE(dialog.chosenModel(), models.size() == 1 ? models.first() : 0);
        auto *ok = dialog.findChild<QDialogButtonBox *>()->button(QDialogButtonBox::Ok);
        QCOMPARE(ok->isEnabled(), models.size() == 1);
    }

    // The operator picks "Hamlib radio", types "yaesu 817", picks the radio's
    // port and opens it: Hamlib's FT-817 backend reads the simulated radio,
    // and a restart finds the same choice.
    void chosenInTheWindowAndRead()
    {
        Station<SimRotator, SimTransceiver> s;
        s.radio.setAcknowledge(true);
        s.radio.setFrequency(432065000);
        s.w<QComboBox>("comboTransceiver")->setCurrentText(QStringLiteral("Hamlib radio"));
        HamlibModelDialog *dialog = nullptr;
        QTRY_VERIFY((dialog = s.window->findChild<HamlibModelDialog *>()) && dialog->isVisible());
        QTest::keyClicks(dialog->findChild<QLineEdit *>(QStringLiteral("lineHamlibSearch")), QStringLiteral("yaesu 817"));
        QVERIFY(dialog->findChild<QLabel *>(QStringLiteral("labelHamlibSettings"))->text().contains(QLatin1String("serial_speed")));
        dialog->findChild<QDialogButtonBox *>()->button(QDialogButtonBox::Ok)->click();
        QTRY_VERIFY(!s.window->findChild<HamlibModelDialog *>());
        QVERIFY(s.logged(QStringLiteral("Hamlib radio: Yaesu FT-817")));

        auto *name = s.w<QComboBox>("comboSerialNameB");
        QVERIFY(name->isEditable());  // a radio's own network address may be typed
        name->setCurrentIndex(1);
        QCOMPARE(name->currentText(), s.radio.slavePath());
        s.setAutoB(true);
        s.w<QPushButton>("buttonOpenSerialB")->click();
        QTRY_VERIFY_WITH_TIMEOUT(s.w<QLabel>("labelFreq")->text().contains(QLatin1String("432.06500")), 15000);
        QVERIFY(s.logged(QStringLiteral("connected to Hamlib's Yaesu FT-817 on %1").arg(s.radio.slavePath())));
        s.window.reset();

        const NetworkSettings saved = NetworkSettings::read(s.dir.file(QStringLiteral("network.cfg")));
        QVERIFY(saved.rigLinked && !saved.rigctld);
        QCOMPARE(saved.hamlibRadio.model, 1020);
        Qt_Vestrel again;
        QCOMPARE(child<QComboBox>(again, "comboTransceiver")->currentText(), QStringLiteral("Hamlib radio"));
        QVERIFY(!again.findChild<HamlibModelDialog *>());  // a model is chosen already
    }
};

QTEST_MAIN(tst_HamlibModels)
#include "tst_hamlibmodels.moc"

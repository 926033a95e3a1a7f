// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/serialsettingsdialog.h"

#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QLabel>
#include <QPushButton>
#include <QtTest>

#include <memory>

namespace {

// Combo boxes of one port in the order of the form.
QList<QComboBox *> combos(QWidget *dialog, QChar port)
{
    QList<QComboBox *> list;
    for (const char *name :
         {"comboBaudrate", "comboParity", "comboDatabits", "comboStopbit", "comboFlow"})
        list << dialog->findChild<QComboBox *>(QLatin1String(name) + port);
    return list;
}

QStringList shown(QWidget *dialog, QChar port)
{
    QStringList texts;
    for (QComboBox *combo : combos(dialog, port))
        texts << combo->currentText();
    return texts;
}

void select(QWidget *dialog, const QString &comboName, const QString &text)
{
    auto *combo = dialog->findChild<QComboBox *>(comboName);
    QVERIFY(combo);
    const int position = combo->findText(text);
    QVERIFY(position >= 0);
    combo->setCurrentIndex(position);
}

void click(QWidget *dialog, const char *button)
{
    QTest::mouseClick(dialog->findChild<QPushButton *>(QLatin1String(button)), Qt::LeftButton);
}

bool sameParameters(const SerialParameters &a, const SerialParameters &b)
{
    return a.baudRate == b.baudRate && a.dataBits == b.dataBits && a.parity == b.parity
        && a.stopBits == b.stopBits && a.flowControl == b.flowControl;
}

const QStringList defaultTexts = {"9600", "none", "8", "1", "off"};

} // namespace

class SerialSettingsDialogTest : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup() { m_host.reset(); }

    void form();
    void listsAndDefaults();
    void confirmStoresEachList();
    void stornoReverts();
    void escapeKeepsRecordsAndSelection();
    void entriesOutsideTheListsChangeNothing();
    void texts();

private:
    std::unique_ptr<QWidget> m_host;
    serialSettingsDialog *m_dialog = nullptr;
};

void SerialSettingsDialogTest::init()
{
    QTest::failOnWarning(QRegularExpression("No matching signal"));
    m_host = std::make_unique<QWidget>();
    m_dialog = new serialSettingsDialog(m_host.get());
}

void SerialSettingsDialogTest::form()
{
    QCOMPARE(m_dialog->objectName(), QStringLiteral("serialSettingsDialogClass"));
    QCOMPARE(m_dialog->windowTitle(), QStringLiteral("Serial settings"));
    QCOMPARE(m_dialog->size(), QSize(331, 203));
    QCOMPARE(m_dialog->windowModality(), Qt::WindowModal);
    QVERIFY(!m_dialog->isVisible());

    auto *top = qobject_cast<QGridLayout *>(m_dialog->layout());
    QVERIFY(top);
    QCOMPARE(top->objectName(), QStringLiteral("gridLayout_3"));
    QCOMPARE(top->spacing(), 6);
    QCOMPARE(top->contentsMargins(), QMargins(11, 11, 11, 11));

    const QList<QPair<QChar, QString>> groups = {{'A', "gridLayout"}, {'B', "gridLayout_2"}};
    for (const auto &[port, gridName] : groups) {
        auto *group = m_dialog->findChild<QGroupBox *>(QStringLiteral("groupSerialSettings") + port);
        QVERIFY(group);
        QCOMPARE(group->title(), QStringLiteral("Serial port ") + port);
        auto *grid = qobject_cast<QGridLayout *>(group->layout());
        QVERIFY(grid);
        QCOMPARE(grid->objectName(), gridName);
        QCOMPARE(grid->spacing(), 6);
        QCOMPARE(grid->contentsMargins(), QMargins(11, 11, 11, 11));

        const QStringList labels = {"Baudrate", "Parity", "Data bits", "Stop bit", "Flow control"};
        const QStringList names = {"labelBaudrate", "labelParity", "labelData", "labelStopbit",
                                   "labelFlow"};
        const QList<QComboBox *> portCombos = combos(m_dialog, port);
        for (int row = 0; row < labels.size(); ++row) {
            auto *label = group->findChild<QLabel *>(names[row] + port);
            QVERIFY(label);
            QCOMPARE(label->text(), labels[row]);
            QCOMPARE(grid->itemAtPosition(row, 0)->widget(), label);
            QVERIFY(portCombos[row]);
            QCOMPARE(grid->itemAtPosition(row, 1)->widget(), portCombos[row]);
        }
    }

    const QList<QPair<const char *, QString>> buttons = {{"buttonSerialSettingsStorno", "Storno"},
                                                         {"buttonSerialSettingsConfirm", "Confirm"}};
    for (const auto &[name, text] : buttons) {
        auto *button = m_dialog->findChild<QPushButton *>(QLatin1String(name));
        QVERIFY(button);
        QCOMPARE(button->text(), text);
        QVERIFY(!button->autoDefault());
        QCOMPARE(button->sizePolicy().horizontalPolicy(), QSizePolicy::Fixed);
        QCOMPARE(button->sizePolicy().verticalPolicy(), QSizePolicy::Fixed);
        QCOMPARE(button->sizePolicy().horizontalStretch(), 23);
        QCOMPARE(button->sizePolicy().verticalStretch(), 75);
    }
    QVERIFY(m_dialog->findChild<QPushButton *>("buttonSerialSettingsConfirm")->isDefault());
    QVERIFY(!m_dialog->findChild<QPushButton *>("buttonSerialSettingsStorno")->isDefault());
}

void SerialSettingsDialogTest::listsAndDefaults()
{
    const QList<QStringList> lists = {
        {"110", "300", "600", "1200", "2400", "4800", "9600", "14400", "19200", "38400", "56000",
         "57600", "115200", "128000", "256000"},
        {"none", "odd", "even", "mark", "space"},
        {"5", "6", "7", "8"},
        {"1", "1.5", "2"},
        {"off", "hardware", "xonxoff"},
    };
    for (QChar port : {'A', 'B'}) {
        const QList<QComboBox *> portCombos = combos(m_dialog, port);
        for (int i = 0; i < lists.size(); ++i) {
            QStringList items;
            for (int j = 0; j < portCombos[i]->count(); ++j)
                items << portCombos[i]->itemText(j);
            QCOMPARE(items, lists[i]);
        }
        QCOMPARE(shown(m_dialog, port), defaultTexts);
    }
    QVERIFY(sameParameters(m_dialog->parametersA, SerialParameters()));
    QVERIFY(sameParameters(m_dialog->parametersB, SerialParameters()));
}

void SerialSettingsDialogTest::confirmStoresEachList()
{
    m_dialog->show();
    select(m_dialog, "comboBaudrateA", "57600");
    select(m_dialog, "comboBaudrateB", "110");
    select(m_dialog, "comboParityB", "space");
    select(m_dialog, "comboDatabitsB", "5");
    select(m_dialog, "comboStopbitB", "2");
    select(m_dialog, "comboFlowB", "hardware");
    click(m_dialog, "buttonSerialSettingsConfirm");

    QVERIFY(!m_dialog->isVisible());
    QCOMPARE(int(m_dialog->parametersA.baudRate), 17);
    QCOMPARE(m_dialog->parametersA.parity, PAR_NONE);
    QCOMPARE(m_dialog->parametersB.baudRate, BAUD110);
    QCOMPARE(m_dialog->parametersB.parity, PAR_SPACE);
    QCOMPARE(m_dialog->parametersB.dataBits, DATA_5);
    QCOMPARE(m_dialog->parametersB.stopBits, STOP_2);
    QCOMPARE(m_dialog->parametersB.flowControl, FLOW_HARDWARE);
}

void SerialSettingsDialogTest::stornoReverts()
{
    m_dialog->show();
    select(m_dialog, "comboBaudrateA", "57600");
    click(m_dialog, "buttonSerialSettingsConfirm");

    m_dialog->show();
    select(m_dialog, "comboBaudrateA", "1200");
    select(m_dialog, "comboParityA", "odd");
    select(m_dialog, "comboFlowB", "xonxoff");
    click(m_dialog, "buttonSerialSettingsStorno");

    QVERIFY(!m_dialog->isVisible());
    QCOMPARE(m_dialog->parametersA.baudRate, BAUD57600);
    QCOMPARE(m_dialog->parametersA.parity, PAR_NONE);
    QCOMPARE(m_dialog->parametersB.flowControl, FLOW_OFF);
    QCOMPARE(shown(m_dialog, 'A'), QStringList({"57600", "none", "8", "1", "off"}));
    QCOMPARE(shown(m_dialog, 'B'), defaultTexts);
}

void SerialSettingsDialogTest::escapeKeepsRecordsAndSelection()
{
    m_dialog->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_dialog));
    select(m_dialog, "comboDatabitsA", "7");
    QTest::keyClick(m_dialog, Qt::Key_Escape);

    QVERIFY(!m_dialog->isVisible());
    QCOMPARE(m_dialog->parametersA.dataBits, DATA_8);
    QCOMPARE(shown(m_dialog, 'A'), QStringList({"9600", "none", "7", "1", "off"}));

    // The selection left by Escape is what a later Confirm stores.
    m_dialog->show();
    click(m_dialog, "buttonSerialSettingsConfirm");
    QCOMPARE(m_dialog->parametersA.dataBits, DATA_7);
}

void SerialSettingsDialogTest::entriesOutsideTheListsChangeNothing()
{
    combos(m_dialog, 'A')[0]->setCurrentIndex(-1);
    m_dialog->parametersA.baudRate = BAUD19200;
    m_dialog->storeParameters();
    QCOMPARE(m_dialog->parametersA.baudRate, BAUD19200);

    m_dialog->parametersB.baudRate = BAUD76800;
    m_dialog->showParameters();
    QCOMPARE(combos(m_dialog, 'B')[0]->currentText(), QStringLiteral("9600"));
}

void SerialSettingsDialogTest::texts()
{
    QCOMPARE(serialSettingsDialog::baudRateText(BAUD57600), QStringLiteral("57600"));
    QCOMPARE(serialSettingsDialog::baudRateText(BAUD76800), QString());
    QCOMPARE(serialSettingsDialog::baudRateText(BAUD50), QString());
    QCOMPARE(serialSettingsDialog::dataBitsText(DATA_5), QStringLiteral("5"));
    QCOMPARE(serialSettingsDialog::parityText(PAR_SPACE), QStringLiteral("space"));
    QCOMPARE(serialSettingsDialog::stopBitsText(STOP_1_5), QStringLiteral("1.5"));
    QCOMPARE(serialSettingsDialog::flowControlText(FLOW_XONXOFF), QStringLiteral("xonxoff"));
    QCOMPARE(QStringLiteral("Baud rate: %1").arg(serialSettingsDialog::baudRateText(BAUD76800)),
             QStringLiteral("Baud rate: "));
}

QTEST_MAIN(SerialSettingsDialogTest)
#include "tst_serialsettingsdialog.moc"

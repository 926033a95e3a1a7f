#include "ui/logdialog.h"

#include <QGridLayout>
#include <QTextEdit>
#include <QtTest>

#include <memory>

class LogDialogTest : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup() { m_host.reset(); }

    void form();
    void linesAppendedWhileHiddenAreKept();
    void textIsShownVerbatim_data();
    void textIsShownVerbatim();
    void operatorCannotEdit();

private:
    std::unique_ptr<QWidget> m_host;
    logDialog *m_log = nullptr;
    QTextEdit *m_text = nullptr;
};

void LogDialogTest::init()
{
    m_host = std::make_unique<QWidget>();
    m_log = new logDialog(m_host.get());
    m_text = m_log->findChild<QTextEdit *>("textLog");
    QVERIFY(m_text);
}

void LogDialogTest::form()
{
    QCOMPARE(m_log->objectName(), QStringLiteral("logDialogClass"));
    QCOMPARE(m_log->windowTitle(), QStringLiteral("logDialog"));
    QCOMPARE(m_log->size(), QSize(400, 300));
    QCOMPARE(m_log->windowModality(), Qt::NonModal);
    QVERIFY(!m_log->isVisible());
    auto *grid = qobject_cast<QGridLayout *>(m_log->layout());
    QVERIFY(grid);
    QCOMPARE(grid->objectName(), QStringLiteral("gridLayout"));
    QCOMPARE(grid->spacing(), 6);
    QCOMPARE(grid->contentsMargins(), QMargins(11, 11, 11, 11));
    QCOMPARE(grid->itemAtPosition(0, 0)->widget(), m_text);
    QVERIFY(m_text->isReadOnly());
    QVERIFY(m_text->toPlainText().isEmpty());
}

void LogDialogTest::linesAppendedWhileHiddenAreKept()
{
    m_log->append("2 serial ports found");
    m_log->append("port A opened");
    m_log->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_log));
    m_log->close();
    QVERIFY(!m_log->isVisible());
    m_log->append("no port opened");
    m_log->show();

    QCOMPARE(m_text->toPlainText(),
             QStringLiteral("2 serial ports found\nport A opened\nno port opened"));
    QCOMPARE(m_text->document()->blockCount(), 3);
}

void LogDialogTest::textIsShownVerbatim_data()
{
    QTest::addColumn<QStringList>("lines");

    QTest::newRow("markup") << QStringList{"<b>x</b>", "a & b", "&lt;", "<br>", "x<y>z"};
    QTest::newRow("empty first line") << QStringList{"", "next"};
    QTest::newRow("empty lines between") << QStringList{"a", "", "", "b"};
    QTest::newRow("spaces kept") << QStringList{"  indented", "tail  "};
}

void LogDialogTest::textIsShownVerbatim()
{
    QFETCH(QStringList, lines);
    for (const QString &line : lines)
        m_log->append(line);
    QCOMPARE(m_text->document()->blockCount(), lines.size());
    QCOMPARE(m_text->toPlainText(), lines.join('\n'));
}

void LogDialogTest::operatorCannotEdit()
{
    m_log->append("ERROR/LIMIT");
    m_log->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_log));
    m_text->setFocus();
    QTest::keyClicks(m_text, "typed");
    QTest::keyClick(m_text, Qt::Key_Backspace);
    QTest::keyClick(m_text, Qt::Key_A, Qt::ControlModifier);
    QTest::keyClick(m_text, Qt::Key_Delete);
    QCOMPARE(m_text->toPlainText(), QStringLiteral("ERROR/LIMIT"));
    QVERIFY(m_text->textInteractionFlags() & Qt::TextSelectableByMouse);
}

QTEST_MAIN(LogDialogTest)
#include "tst_logdialog.moc"

// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/logdialog.h"
#include "ui/logview.h"

#include <QCheckBox>
#include <QGridLayout>
#include <QTextBlock>
#include <QPlainTextEdit>
#include <QScrollBar>
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
    void messageWithLineBreaksIsOneParagraph();
    void keepsTheMostRecentMessages_data();
    void keepsTheMostRecentMessages();
    void defaultBound();
    void noteFollowsTheRecordLocation();
    void showsEachMessagesTime_data();
    void showsEachMessagesTime();
    void laysOutOnlyWhatIsInView_data();
    void laysOutOnlyWhatIsInView();

private:
    std::unique_ptr<QWidget> m_host;
    logDialog *m_log = nullptr;
    QPlainTextEdit *m_text = nullptr;
};

void LogDialogTest::init()
{
    m_host = std::make_unique<QWidget>();
    m_log = new logDialog(m_host.get());
    m_text = m_log->findChild<QPlainTextEdit *>("textLog");
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

void LogDialogTest::messageWithLineBreaksIsOneParagraph()
{
    m_log->append("Port A data received (6 bytes): OK\r\nOK");
    m_log->append("a\nb\rc");
    QCOMPARE(m_text->document()->blockCount(), 2);
    QCOMPARE(m_text->document()->firstBlock().text(),
             QStringLiteral("Port A data received (6 bytes): OK") + QChar(QChar::LineSeparator) + "OK");
}

void LogDialogTest::keepsTheMostRecentMessages_data()
{
    QTest::addColumn<int>("limit");
    QTest::addColumn<int>("characterLimit");
    QTest::addColumn<int>("appended");
    QTest::addColumn<int>("kept");

    QTest::newRow("below the bound") << 5 << 1000000 << 4 << 4;
    QTest::newRow("at the bound") << 5 << 1000000 << 5 << 5;
    QTest::newRow("one past") << 5 << 1000000 << 6 << 5;
    QTest::newRow("far past") << 5 << 1000000 << 1000 << 5;
    QTest::newRow("bound of one") << 1 << 1000000 << 3 << 1;
    // "message 10" on are ten characters each.
    QTest::newRow("characters bind first") << 100 << 30 << 20 << 3;
    QTest::newRow("one message longer than the character bound") << 100 << 5 << 20 << 1;
}

void LogDialogTest::keepsTheMostRecentMessages()
{
    QFETCH(int, limit);
    QFETCH(int, characterLimit);
    QFETCH(int, appended);
    QFETCH(int, kept);
    m_log->setRecordNote("the full record is in /tmp/vestrel.log");
    m_log->setMessageLimit(limit);
    m_log->setCharacterLimit(characterLimit);
    for (int i = 0; i < appended; ++i)
        m_log->append(QStringLiteral("message %1").arg(i));

    const int dropped = appended - kept;
    QCOMPARE(m_log->droppedCount(), qint64(dropped));
    QStringList expected;
    if (dropped > 0)
        expected << QStringLiteral("%1 earlier messages dropped from this window; the full record is in "
                                   "/tmp/vestrel.log").arg(dropped);
    for (int i = dropped; i < appended; ++i)
        expected << QStringLiteral("message %1").arg(i);
    QCOMPARE(m_text->document()->blockCount(), expected.size());
    QCOMPARE(m_text->toPlainText(), expected.join('\n'));
}

void LogDialogTest::defaultBound()
{
    QCOMPARE(m_log->messageLimit(), 100000);
    m_log->show();
    for (int i = 0; i < 100003; ++i)
        m_log->append(QString::number(i));
    QCOMPARE(m_text->document()->blockCount(), 100001);
    QCOMPARE(m_text->document()->firstBlock().text(), QStringLiteral("3 earlier messages dropped from this window"));
    QCOMPARE(m_text->document()->firstBlock().next().text(), QStringLiteral("3"));
    QCOMPARE(m_text->document()->lastBlock().text(), QStringLiteral("100002"));
}

void LogDialogTest::noteFollowsTheRecordLocation()
{
    m_log->setMessageLimit(2);
    m_log->setRecordNote("first place");
    for (const char *text : {"a", "b", "c"})
        m_log->append(text);
    m_log->setRecordNote("second place");
    QCOMPARE(m_text->toPlainText(), QStringLiteral("1 earlier messages dropped from this window; second place\nb\nc"));
    // Lowering the bound drops at once.
    m_log->setMessageLimit(1);
    QCOMPARE(m_text->toPlainText(), QStringLiteral("2 earlier messages dropped from this window; second place\nc"));
}

void LogDialogTest::showsEachMessagesTime_data()
{
    QTest::addColumn<int>("limit");
    QTest::addColumn<QStringList>("messages");
    QTest::addColumn<QStringList>("times");  // shown beside each paragraph
    QTest::newRow("one a message") << 100 << QStringList {"a", "b", "c"}
                                   << QStringList {"22:14:01", "22:14:02", "22:14:03"};
    QTest::newRow("line breaks inside") << 100 << QStringList {"OK\r\nOK", "x\ny"}
                                        << QStringList {"22:14:01", "22:14:02"};
    QTest::newRow("empty first message") << 100 << QStringList {"", "b"} << QStringList {"22:14:01", "22:14:02"};
    // The note on dropped messages has no time; each kept message keeps its own.
    QTest::newRow("after drops") << 2 << QStringList {"a", "b", "c", "d"}
                                 << QStringList {"", "22:14:03", "22:14:04"};
    QTest::newRow("bound of one") << 1 << QStringList {"a", "b", "c"} << QStringList {"", "22:14:03"};
}

void LogDialogTest::showsEachMessagesTime()
{
    QFETCH(int, limit);
    QFETCH(QStringList, messages);
    QFETCH(QStringList, times);
    auto *view = qobject_cast<LogView *>(m_text);
    QVERIFY(view);
    auto *box = m_log->findChild<QCheckBox *>("checkUtcTimes");
    QVERIFY(box);
    m_log->setMessageLimit(limit);
    // Given in local time an hour ahead: shown in UTC.
    const QDateTime first(QDate(2026, 12, 7), QTime(23, 14, 1), Qt::OffsetFromUTC, 3600);
    for (int i = 0; i < messages.size(); ++i)
        m_log->appendAt(messages.at(i), first.addSecs(i));
    m_log->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_log));
    const QString text = m_text->toPlainText();
    const int left = m_text->viewport()->geometry().left();

    QTest::mouseClick(box, Qt::LeftButton, {}, QPoint(5, box->height() / 2));
    QVERIFY(view->timesShown());
    QVERIFY(m_text->viewport()->geometry().left() >= left + m_text->fontMetrics().horizontalAdvance("00:00:00"));
    QStringList shown;
    for (int i = 0; i < m_text->document()->blockCount(); ++i)
        shown << view->timeShownAt(i);
    QCOMPARE(shown, times);
    QCOMPARE(m_text->toPlainText(), text);  // the messages as they came

    // A message while the times are shown gets its own.
    m_log->appendAt("later", first.addSecs(60));
    QCOMPARE(view->timeShownAt(m_text->document()->blockCount() - 1), QStringLiteral("22:15:01"));

    box->click();
    QVERIFY(!view->timesShown());
    QCOMPARE(m_text->viewport()->geometry().left(), left);
}

void LogDialogTest::laysOutOnlyWhatIsInView_data()
{
    QTest::addColumn<bool>("shown");
    QTest::addColumn<int>("limit");
    QTest::newRow("hidden") << false << 100000;
    QTest::newRow("hidden, past the bound") << false << 100;
    QTest::newRow("shown") << true << 100000;
    QTest::newRow("shown, past the bound") << true << 100;
}

void LogDialogTest::laysOutOnlyWhatIsInView()
{
    QFETCH(bool, shown);
    QFETCH(int, limit);
    m_log->setMessageLimit(limit);
    if (shown) {
        m_log->show();
        QVERIFY(QTest::qWaitForWindowExposed(m_log));
    }
    for (int i = 0; i < 1000; ++i)
        m_log->append(QStringLiteral("message %1").arg(i));
    QScrollBar *bar = m_text->verticalScrollBar();
    if (shown)  // the view follows the newest message
        QTRY_VERIFY(bar->maximum() > 0 && bar->value() == bar->maximum());

    int laidOut = 0;
    for (QTextBlock block = m_text->document()->firstBlock(); block.isValid(); block = block.next())
        laidOut += block.layout()->lineCount() > 0 ? 1 : 0;
    // Hidden, only the first message, typed into the document's first paragraph.
    const int inView = shown ? m_text->viewport()->height() / m_text->fontMetrics().lineSpacing() + 2 : 1;
    QVERIFY2(laidOut <= inView, qPrintable(QStringLiteral("%1 paragraphs laid out").arg(laidOut)));

    if (!shown) {  // shown later, it opens at the newest
        m_log->show();
        QVERIFY(QTest::qWaitForWindowExposed(m_log));
        QVERIFY(bar->maximum() > 0);
        QCOMPARE(bar->value(), bar->maximum());
    }
}

QTEST_MAIN(LogDialogTest)
#include "tst_logdialog.moc"

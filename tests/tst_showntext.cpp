// SPDX-License-Identifier: GPL-3.0-or-later
// Outside text as the log shows it: nothing a terminal or the window would
// act on, nothing that is not valid text, nothing without bound.

#include "links/showntext.h"

#include <QtTest>

class tst_ShownText : public QObject
{
    Q_OBJECT

private slots:
    void shown_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<int>("maxChars");
        QTest::addColumn<QString>("shown");
        QTest::newRow("plain") << QByteArray("RPRT -1") << 200 << QStringLiteral("RPRT -1");
        QTest::newRow("terminal escapes") << QByteArray("\x1b[2J\x1b]0;owned\x07") << 200
                                          << QStringLiteral("\\x1b[2J\\x1b]0;owned\\x07");
        QTest::newRow("NUL and DEL") << QByteArray("a\0b\x7f", 4) << 200 << QStringLiteral("a\\x00b\\x7f");
        QTest::newRow("line end dropped, inner one escaped")
            << QByteArray("ERROR/LIMIT\rx\r\n") << 200 << QStringLiteral("ERROR/LIMIT\\x0dx");
        QTest::newRow("UTF-8 kept") << QByteArray("Grüße 73") << 200 << QStringLiteral("Grüße 73");
        QTest::newRow("invalid UTF-8 replaced") << QByteArray("a\xff\xfe" "b") << 200 << QStringLiteral("a\uFFFD\uFFFDb");
        QTest::newRow("C1 control") << QByteArray("\xc2\x9b" "2J") << 200 << QStringLiteral("\\x9b2J");
        QTest::newRow("bidirectional override") << QByteArray("\xe2\x80\xae" "abc") << 200
                                                << QStringLiteral("\\u202eabc");
        QTest::newRow("markup stays text") << QByteArray("<b>&amp;") << 200 << QStringLiteral("<b>&amp;");
        QTest::newRow("cut") << QByteArray("123456") << 4 << QStringLiteral("1234...");
        QTest::newRow("cut keeps a character whole") << QByteArray("ab\xf0\x9f\x93\xa1" "cd") << 3
                                                     << QStringLiteral("ab\U0001F4E1...");
        QTest::newRow("a megabyte costs the bound") << QByteArray(1 << 20, '\x1b') << 3
                                                    << QStringLiteral("\\x1b\\x1b\\x1b...");
    }

    void shown()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(int, maxChars);
        QFETCH(QString, shown);
        QCOMPARE(shownText(bytes, maxChars), shown);
    }
};

QTEST_GUILESS_MAIN(tst_ShownText)
#include "tst_showntext.moc"

// SPDX-License-Identifier: GPL-3.0-or-later
// Number texts: correctly rounded formatting, whatever the process locale.

#include "settings/numbers.h"

#include <QtTest>

#include <clocale>

class tst_Numbers : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        // A decimal comma locale, where the C library has one, must not leak in.
        std::setlocale(LC_NUMERIC, "de_DE.UTF-8");
    }

    void general_data()
    {
        QTest::addColumn<double>("value");
        QTest::addColumn<QString>("text");
        QTest::newRow("zero") << 0.0 << "0";
        QTest::newRow("negative zero") << -0.0 << "0";
        QTest::newRow("tenth") << 0.1 << "0.1";
        QTest::newRow("six digits") << 12.345678 << "12.3457";
        QTest::newRow("small") << 0.00001 << "1e-05";
        QTest::newRow("tie to even, exponent") << 1234565.0 << "1.23456e+06";
        QTest::newRow("tie up to even, exponent") << 1234575.0 << "1.23458e+06";
        QTest::newRow("negative tie") << -1234565.0 << "-1.23456e+06";
        QTest::newRow("tie 10.03125") << 10.03125 << "10.0312";
        QTest::newRow("tie in fraction, down") << -123456.5 << "-123456";
        QTest::newRow("tie in fraction, up") << 100001.5 << "100002";
        QTest::newRow("large") << 1e21 << "1e+21";
        QTest::newRow("whole") << 90.0 << "90";
    }

    void general()
    {
        QFETCH(double, value);
        QFETCH(QString, text);
        QCOMPARE(numbers::general(value), text);
    }

    void fixed_data()
    {
        QTest::addColumn<double>("value");
        QTest::addColumn<int>("decimals");
        QTest::addColumn<int>("width");
        QTest::addColumn<QString>("text");
        QTest::newRow("frequency") << 432.065 << 5 << 9 << "432.06500";
        QTest::newRow("padded frequency") << 50.1 << 5 << 9 << "050.10000";
        QTest::newRow("wider than width") << 10368.1 << 5 << 9 << "10368.10000";
        QTest::newRow("nearest, not half up") << 144.0000049999 << 5 << 9 << "144.00000";
        QTest::newRow("position tie") << 123.125 << 2 << 6 << "123.12";
        QTest::newRow("negative padded") << -3.2 << 2 << 6 << "-03.20";
    }

    void fixed()
    {
        QFETCH(double, value);
        QFETCH(int, decimals);
        QFETCH(int, width);
        QFETCH(QString, text);
        QCOMPARE(numbers::fixed(value, decimals, width), text);
    }
};

QTEST_GUILESS_MAIN(tst_Numbers)
#include "tst_numbers.moc"

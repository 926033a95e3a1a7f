// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// What every benchmark program shares: the result lines that
// scripts/bench.sh gathers into one table, sample summaries, and waiting
// without spinning. Needs QtCore only.

#include <QAbstractEventDispatcher>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QString>
#include <QStringList>
#include <QThread>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <vector>

namespace bench {

// The number after option name in the arguments, or fallback when the option
// or its number is missing (a number that does not parse reads as 0).
inline int intOption(const QStringList &args, const QString &name, int fallback)
{
    const int at = int(args.indexOf(name));
    return at >= 0 && at + 1 < args.size() ? args.at(at + 1).toInt() : fallback;
}

// One line of the final table: the figure, what was measured, and the bound
// or peer it stands beside (measured in the same run).
inline void row(const QString &figure, const QString &measured, const QString &against)
{
    std::printf("row\t%s\t%s\t%s\n", qPrintable(figure), qPrintable(measured), qPrintable(against));
    std::fflush(stdout);
}

inline QString ms(double value, int decimals = 1)
{
    return QString::number(value, 'f', decimals) + QStringLiteral(" ms");
}

// Sorted samples with the usual summaries.
struct Samples {
    std::vector<double> values;
    double framesPerPair = 0;  // for peers: how many CAT frames one reading took
    void add(double v) { values.push_back(v); }
    bool empty() const { return values.empty(); }
    double quantile(double q)
    {
        std::sort(values.begin(), values.end());
        return values.empty() ? 0.0 : values[size_t(q * double(values.size() - 1) + 0.5)];
    }
    double median() { return quantile(0.5); }
    QString summary(int decimals = 1)
    {
        return QStringLiteral("median %1, p90 %2 (n=%3)")
            .arg(ms(median(), decimals), ms(quantile(0.9), decimals))
            .arg(values.size());
    }
};

// Runs the event loop until the condition holds or the time is up. The
// condition is looked at each time the loop is about to sleep, so nothing
// spins and the moment it turns true is seen within one pass of the loop.
inline bool waitUntil(const std::function<bool()> &condition, int timeoutMs)
{
    if (condition())
        return true;
    QEventLoop loop;
    bool met = false;
    auto *dispatcher = QAbstractEventDispatcher::instance(QThread::currentThread());
    const auto check = QObject::connect(dispatcher, &QAbstractEventDispatcher::aboutToBlock, &loop, [&] {
        if (!met && condition()) {
            met = true;
            loop.quit();
        }
    });
    QTimer::singleShot(timeoutMs, &loop, &QEventLoop::quit);
    loop.exec();
    QObject::disconnect(check);
    return met || condition();
}

// Lets the event loop run for a while, asleep when there is nothing to do.
inline void idle(int msecs)
{
    QEventLoop loop;
    QTimer::singleShot(msecs, &loop, &QEventLoop::quit);
    loop.exec();
}

} // namespace bench

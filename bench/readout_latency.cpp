// Prints how long the operator waits from a readout tick to the new frequency
// in the window, with the simulated radio answering at the pace of a real
// 9600-baud line, and what an idle transceiver link costs in CPU time.

#include "windowtesting.h"

#include "sim/simrotator.h"
#include "sim/simtransceiver.h"

#include <QElapsedTimer>
#include <QEventLoop>
#include <QLabel>

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <vector>

using namespace windowtesting;

namespace {

double processCpuSeconds()
{
    timespec ts {};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return double(ts.tv_sec) + double(ts.tv_nsec) / 1e9;
}

} // namespace

int main(int argc, char **argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const int ticks = argc > 1 ? atoi(argv[1]) : 50;

    Station<SimRotator, SimTransceiver> s(600);
    s.radio.setLineTiming(true);
    // Ticks are made by hand below; the window's own readout timer stays far away.
    s.window->findChild<QLineEdit *>(QStringLiteral("lineMessageDelay"))->setText(QStringLiteral("60000"));
    QMetaObject::invokeMethod(s.window->findChild<QPushButton *>(QStringLiteral("buttonTimerSettingConfirm")), "click");
    s.setAutoB(true);
    s.clickOpenB();
    auto *label = s.w<QLabel>("labelFreq");
    QElapsedTimer wait;
    wait.start();
    while (label->text() == QLatin1String("---.----- MHz") && wait.elapsed() < 5000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);

    std::vector<double> ms;
    for (int i = 0; i < ticks; ++i) {
        const quint32 hz = 432'000'000u + quint32(i + 1) * 1000u;
        s.radio.setFrequency(hz);
        const QString expected = QStringLiteral("R %1 MHz").arg(hz / 1e6, 9, 'f', 5, QChar('0'));
        QElapsedTimer timer;
        timer.start();
        s.window->freqReadTimeout();
        while (label->text() != expected && timer.elapsed() < 5000)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 1);
        ms.push_back(double(timer.nsecsElapsed()) / 1e6);
        // Let the worker's pause after the reply pass, as between real ticks.
        QElapsedTimer gap;
        gap.start();
        while (gap.elapsed() < 60)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    }
    std::sort(ms.begin(), ms.end());
    std::printf("readout tick -> displayed frequency, %d ticks, 9600-baud line timing:\n", ticks);
    std::printf("  min %.1f ms, median %.1f ms, p90 %.1f ms, max %.1f ms\n", ms.front(), ms[ms.size() / 2],
                ms[ms.size() * 9 / 10], ms.back());

    // Idle: port B in Manual keeps the link but queues nothing.
    s.setAutoB(false);
    QElapsedTimer settle;
    settle.start();
    while (settle.elapsed() < 200)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    const double before = processCpuSeconds();
    QEventLoop idle;  // sleeps until something happens, unlike a processEvents() poll
    QTimer::singleShot(2000, &idle, &QEventLoop::quit);
    idle.exec();
    std::printf("idle link with port B open: %.1f ms CPU over 2 s\n", (processCpuSeconds() - before) * 1000);
    return 0;
}

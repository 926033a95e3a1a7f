// Prints how long the operator waits from a readout tick to the new frequency
// in the window: over the direct serial link, with the simulated radio
// answering at the pace of a real 9600-baud line; through Hamlib's rigctld
// with its dummy radio; and through rigctld in front of the same simulated
// radio (FT-817 driver). Also what an idle transceiver link costs in CPU time.

#include "hamlibtesting.h"
#include "windowtesting.h"

#include "sim/simrotator.h"
#include "sim/simtransceiver.h"

#include <QComboBox>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QLabel>

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <functional>
#include <vector>

using namespace windowtesting;

namespace {

double processCpuSeconds()
{
    timespec ts {};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return double(ts.tv_sec) + double(ts.tv_nsec) / 1e9;
}

void spin(int ms)
{
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < ms)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
}

// Port B in Auto, opened; ticks are made by hand, the window's own readout
// timer stays far away.
template <typename S>
bool openReadout(S &s, const QString &rigctldAddress = QString())
{
    s.window->template findChild<QLineEdit *>(QStringLiteral("lineMessageDelay"))->setText(QStringLiteral("60000"));
    QMetaObject::invokeMethod(s.window->template findChild<QPushButton *>(QStringLiteral("buttonTimerSettingConfirm")),
                              "click");
    s.setAutoB(true);
    if (rigctldAddress.isEmpty()) {
        s.clickOpenB();
    } else {
        s.template w<QComboBox>("comboTransceiver")->setCurrentText(QStringLiteral("Hamlib rigctld (network)"));
        s.template w<QComboBox>("comboSerialNameB")->setEditText(rigctldAddress);
        s.template w<QPushButton>("buttonOpenSerialB")->click();
    }
    auto *label = s.template w<QLabel>("labelFreq");
    QElapsedTimer wait;
    wait.start();
    while (label->text() == QLatin1String("---.----- MHz") && wait.elapsed() < 10000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    return label->text() != QLatin1String("---.----- MHz");
}

// Each tick: the radio is tuned (not timed), then tick -> displayed frequency.
template <typename S>
void measure(const char *title, S &s, int ticks, const std::function<void(quint32)> &tune, int gapMs = 60)
{
    auto *label = s.template w<QLabel>("labelFreq");
    std::vector<double> ms;
    int stale = 0;
    for (int i = 0; i < ticks; ++i) {
        const quint32 hz = 432'000'000u + quint32(i + 1) * 1000u;
        tune(hz);
        const QString expected = QStringLiteral("R %1 MHz").arg(hz / 1e6, 9, 'f', 5, QChar('0'));
        label->clear();  // whatever the readout shows next ends the wait
        QElapsedTimer timer;
        timer.start();
        s.window->freqReadTimeout();
        while (label->text().isEmpty() && timer.elapsed() < 5000)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 1);
        ms.push_back(double(timer.nsecsElapsed()) / 1e6);
        stale += label->text() != expected;
        spin(gapMs);  // let the pauses after the reply pass, as between real ticks
    }
    std::sort(ms.begin(), ms.end());
    std::printf("%s, %d ticks:\n", title, ticks);
    std::printf("  min %.1f ms, median %.1f ms, p90 %.1f ms, max %.1f ms", ms.front(), ms[ms.size() / 2],
                ms[ms.size() * 9 / 10], ms.back());
    std::printf(stale ? " (%d showed an older frequency)\n" : "\n", stale);
}

} // namespace

int main(int argc, char **argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const int ticks = argc > 1 ? atoi(argv[1]) : 50;

    {
        Station<SimRotator, SimTransceiver> s(600);
        s.radio.setLineTiming(true);
        if (!openReadout(s))
            return 1;
        measure("direct serial link, 9600-baud line timing", s, ticks, [&s](quint32 hz) { s.radio.setFrequency(hz); });

        // Idle: port B in Manual keeps the link but queues nothing.
        s.setAutoB(false);
        spin(200);
        const double before = processCpuSeconds();
        QEventLoop idle;  // sleeps until something happens, unlike a processEvents() poll
        QTimer::singleShot(2000, &idle, &QEventLoop::quit);
        idle.exec();
        std::printf("idle link with port B open: %.1f ms CPU over 2 s\n", (processCpuSeconds() - before) * 1000);
    }

    if (!hamlibtesting::daemonsInstalled()) {
        std::printf("rigctld not installed: no numbers through Hamlib\n");
        return 0;
    }
    {
        hamlibtesting::Daemon rig(QStringLiteral("rigctld"), {QStringLiteral("-m"), QStringLiteral("1")});
        Station<PtyPeer, PtyPeer> s(600);
        if (!rig.start() || !openReadout(s, rig.address()))
            return 1;
        measure("rigctld, dummy radio", s, ticks, [&rig](quint32 hz) { rig.ask("F " + QByteArray::number(hz)); });
    }
    {
        Station<PtyPeer, SimTransceiver> s(600);
        s.radio.setLineTiming(true);
        s.radio.setAcknowledge(true);
        hamlibtesting::Daemon rig(QStringLiteral("rigctld"),
                                  {QStringLiteral("-m"), QStringLiteral("1020"), QStringLiteral("-r"), s.radio.slavePath()});
        if (!rig.start() || !openReadout(s, rig.address()))
            return 1;
        // rigctld keeps the frequency it read for a while; a change made at the
        // radio (as here) may show a tick later, so the ticks are spaced out.
        measure("rigctld, FT-817 driver, simulated radio with 9600-baud line timing", s, ticks,
                [&s](quint32 hz) { s.radio.setFrequency(hz); }, 1000);
    }
    return 0;
}

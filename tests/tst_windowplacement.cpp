// SPDX-License-Identifier: GPL-3.0-or-later
// The demo's two windows side by side, whole, within the screen's available
// area: worked out for screens with and without panels, and done with the
// real windows on two offscreen screens of 1366x768 and 1920x1080 whose
// windows have frames.

#include "demo/windowplacement.h"
#include "demotesting.h"

#include <QScreen>
#include <QTemporaryFile>
#include <QtTest>

using namespace demotesting;

namespace {

// The main window's and the simulator's frames, and the simulator's least.
const QSize mainFrame(560, 320);
const QSize simulatorFrame(770, 515);
const QSize simulatorLeast(420, 470);

} // namespace

class tst_WindowPlacement : public QObject
{
    Q_OBJECT

private slots:
    void fit_data()
    {
        QTest::addColumn<QRect>("available");
        QTest::addColumn<bool>("apart");
        QTest::newRow("1366x768") << QRect(0, 0, 1366, 768) << true;
        QTest::newRow("1366x768, panel at the top") << QRect(0, 27, 1366, 741) << true;
        QTest::newRow("1366x768, dock on the left, panel below") << QRect(64, 0, 1302, 720) << true;
        QTest::newRow("1920x1080") << QRect(0, 0, 1920, 1080) << true;
        QTest::newRow("1920x1080, second screen") << QRect(1366, 0, 1920, 1048) << true;
        QTest::newRow("1280x720, panels") << QRect(0, 32, 1280, 656) << true;
        QTest::newRow("1024x768, the simulator narrowed") << QRect(0, 0, 1024, 768) << true;
        QTest::newRow("800x600: overlapping, still whole") << QRect(0, 0, 800, 600) << false;
        QTest::newRow("640x480: the simulator lowered too") << QRect(0, 0, 640, 480) << false;
    }

    void fit()
    {
        QFETCH(QRect, available);
        QFETCH(bool, apart);
        const SideBySide placed = SideBySide::fit(available, mainFrame, simulatorFrame, simulatorLeast);
        QVERIFY(available.contains(placed.first));
        QVERIFY(available.contains(placed.second));
        QCOMPARE(placed.first.intersects(placed.second), !apart);
        QVERIFY(placed.first.left() < placed.second.left());
        QCOMPARE(placed.first.size(), mainFrame);
        QVERIFY(placed.second.width() >= simulatorLeast.width() && placed.second.height() >= simulatorLeast.height());
        // Beside the first, the second takes what room there is, up to its own size.
        if (apart)
            QCOMPARE(placed.second.width(), qMin(simulatorFrame.width(), available.width() - mainFrame.width() - 12));
    }

    // Placed before the window system has framed them (as a window manager
    // frames a window only after it is shown), the frames are not known:
    // placed again once they are, the title bars stay on the screen.
    void realWindows_data()
    {
        QTest::addColumn<int>("screen");
        QTest::addColumn<bool>("framedFirst");
        for (QScreen *screen : QGuiApplication::screens())
            for (const bool framed : {true, false})
                QTest::addRow("%dx%d, %s", screen->size().width(), screen->size().height(),
                              framed ? "framed" : "placed before framed")
                    << int(QGuiApplication::screens().indexOf(screen)) << framed;
    }

    void realWindows()
    {
        QFETCH(int, screen);
        QFETCH(bool, framedFirst);
        QScreen *on = QGuiApplication::screens().at(screen);
        DemoRun run;
        QVERIFY2(run.started, qPrintable(run.station.errorString()));
        run.window->move(on->geometry().topLeft() + QPoint(200, 200));
        if (!framedFirst) {
            run.window->setScreen(on);
            // As tall as the screen: before the fix its title bar went above it.
            run.simulator->resize(run.simulator->width(), on->availableGeometry().height());
            SideBySide::place(*run.window, *run.simulator);
        }
        run.window->show();
        run.simulator->show();
        QVERIFY(QTest::qWaitForWindowExposed(run.window.get()));
        QVERIFY(QTest::qWaitForWindowExposed(run.simulator.get()));
        QCOMPARE(run.window->screen(), on);
        QVERIFY(run.window->frameGeometry() != run.window->geometry());  // framed, as on a desktop

        if (framedFirst)
            SideBySide::place(*run.window, *run.simulator);
        const QRect available = on->availableGeometry();
        QTRY_VERIFY2(available.contains(run.window->frameGeometry()), qPrintable(describe(*run.window)));
        QTRY_VERIFY2(available.contains(run.simulator->frameGeometry()), qPrintable(describe(*run.simulator)));
        QVERIFY2(!run.window->frameGeometry().intersects(run.simulator->frameGeometry()),
                 qPrintable(describe(*run.window) + QStringLiteral(", ") + describe(*run.simulator)));
        // Narrowed to fit, the simulator is as tall as its wrapped text needs.
        if (run.simulator->hasHeightForWidth())
            QVERIFY2(run.simulator->height() >= run.simulator->heightForWidth(run.simulator->width()),
                     qPrintable(describe(*run.simulator)));
        // Everything the operator uses in the simulator is on the screen.
        for (const char *name : {"buttonCableB", "checkRadioGarbage", "buttonPtt"}) {
            auto *widget = run.sim<QWidget>(name);
            const QRect onScreen(widget->mapToGlobal(QPoint(0, 0)), widget->size());
            QVERIFY2(available.contains(onScreen), name);
        }
    }

private:
    static QString describe(const QWidget &window)
    {
        const QRect frame = window.frameGeometry();
        return QStringLiteral("%1 at %2,%3 %4x%5")
            .arg(window.objectName())
            .arg(frame.x())
            .arg(frame.y())
            .arg(frame.width())
            .arg(frame.height());
    }
};

int main(int argc, char **argv)
{
    // Two screens side by side, and windows with frames, as a desktop gives.
    QTemporaryFile configuration(QDir::tempPath() + QStringLiteral("/vestrel-screens-XXXXXX.json"));
    if (!configuration.open())
        return 2;
    configuration.write(R"({"windowFrameMargins": true, "screens": [
        {"name": "laptop", "x": 0, "y": 0, "width": 1366, "height": 768, "logicalDpi": 96},
        {"name": "monitor", "x": 1366, "y": 0, "width": 1920, "height": 1080, "logicalDpi": 96}]})");
    configuration.close();
    qputenv("QT_QPA_PLATFORM", "offscreen:configfile=" + QFile::encodeName(configuration.fileName()));
    QApplication application(argc, argv);
    tst_WindowPlacement test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}

#include "tst_windowplacement.moc"

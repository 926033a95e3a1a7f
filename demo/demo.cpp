#include "demo/demo.h"

#include "demo/demoautopilot.h"
#include "demo/demostation.h"
#include "demo/stationsimulator.h"
#include "tracking/qt_vestrel.h"

#include <QApplication>
#include <QScreen>
#include <QSocketNotifier>
#include <QTextStream>

#include <csignal>

#include <sys/socket.h>
#include <unistd.h>

namespace {

int g_signalWriteEnd = -1;

void onTerminate(int)
{
    const char byte = 1;
    [[maybe_unused]] const ssize_t n = ::write(g_signalWriteEnd, &byte, 1);
}

// SIGTERM, SIGINT and SIGHUP end the event loop, so the window closes its
// ports and the station removes its scratch directory, as when closed by hand.
// The handler only writes a byte; the loop does the rest.
class QuitOnTerminate
{
public:
    explicit QuitOnTerminate(QApplication &application)
    {
        if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, m_fds) != 0)
            return;
        g_signalWriteEnd = m_fds[0];
        m_notifier = std::make_unique<QSocketNotifier>(m_fds[1], QSocketNotifier::Read);
        QObject::connect(m_notifier.get(), &QSocketNotifier::activated, &application, [this, &application] {
            char byte;
            [[maybe_unused]] const ssize_t n = ::read(m_fds[1], &byte, 1);
            application.quit();
        });
        struct sigaction action {};
        action.sa_handler = onTerminate;
        sigemptyset(&action.sa_mask);
        action.sa_flags = SA_RESTART;
        for (int signal : {SIGTERM, SIGINT, SIGHUP})
            sigaction(signal, &action, nullptr);
    }
    ~QuitOnTerminate()
    {
        for (int signal : {SIGTERM, SIGINT, SIGHUP})
            std::signal(signal, SIG_DFL);
        m_notifier.reset();
        g_signalWriteEnd = -1;
        for (int fd : m_fds)
            if (fd >= 0)
                ::close(fd);
    }

private:
    int m_fds[2] = {-1, -1};
    std::unique_ptr<QSocketNotifier> m_notifier;
};

// To the right of the main window where the screen has room, else below it.
void placeBeside(QWidget &simulator, const QWidget &window)
{
    const QRect frame = window.frameGeometry();
    const QRect screen = window.screen() ? window.screen()->availableGeometry() : QRect();
    const QSize size = simulator.sizeHint().expandedTo(simulator.size());
    if (screen.isEmpty() || frame.right() + 12 + size.width() <= screen.right())
        simulator.move(frame.topRight() + QPoint(12, 0));
    else
        simulator.move(frame.bottomLeft() + QPoint(0, 12));
}

} // namespace

int runDemo(QApplication &application, bool automatic)
{
    QTextStream out(stdout);
    DemoStation station;
    if (!station.start()) {
        QTextStream(stderr) << "vestrel: demo: " << station.errorString() << Qt::endl;
        return 1;
    }
    out << "Demo station in " << station.workingDirectory() << Qt::endl
        << "  port " << station.portName(DemoStation::Rotator) << ": rotator controller on "
        << station.linePath(DemoStation::Rotator) << Qt::endl
        << "  port " << station.portName(DemoStation::Transceiver) << ": transceiver on "
        << station.linePath(DemoStation::Transceiver) << Qt::endl
        << "  tracking data file " << station.dataFilePath() << Qt::endl;

    const QuitOnTerminate quitOnTerminate(application);
    int code = 0;
    {
        Qt_Vestrel window;
        window.show();
        StationSimulator simulator(station, &window);
        // Closing the main window ends the demo, whatever the simulator does.
        simulator.setAttribute(Qt::WA_QuitOnClose, false);
        placeBeside(simulator, window);
        simulator.show();

        DemoAutopilot autopilot(window, station);
        QObject::connect(&autopilot, &DemoAutopilot::finished, &application, [&out](bool ok, const QString &message) {
            out << (ok ? "Demo: " : "Demo stopped: ") << message << Qt::endl;
        });
        if (automatic)
            autopilot.start();
        code = application.exec();
    }
    out << "Demo station closed" << Qt::endl;
    return code;
}

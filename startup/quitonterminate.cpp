// SPDX-License-Identifier: GPL-3.0-or-later
#include "startup/quitonterminate.h"

#include <QCoreApplication>

#include <csignal>

#include <sys/socket.h>
#include <unistd.h>

namespace startup {

namespace {

constexpr int quitSignals[] = {SIGTERM, SIGINT, SIGHUP};
int g_signalWriteEnd = -1;

void onTerminate(int)
{
    const char byte = 1;
    [[maybe_unused]] const ssize_t n = ::write(g_signalWriteEnd, &byte, 1);
}

} // namespace

QuitOnTerminate::QuitOnTerminate(QCoreApplication &application)
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
    for (int signal : quitSignals)
        sigaction(signal, &action, nullptr);
}

QuitOnTerminate::~QuitOnTerminate()
{
    for (int signal : quitSignals)
        std::signal(signal, SIG_DFL);
    m_notifier.reset();
    g_signalWriteEnd = -1;
    for (int fd : m_fds)
        if (fd >= 0)
            ::close(fd);
}

} // namespace startup

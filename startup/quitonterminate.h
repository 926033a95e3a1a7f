// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QSocketNotifier>

#include <memory>

class QCoreApplication;

namespace startup {

// While it lives, SIGTERM, SIGINT and SIGHUP (the desktop logging out, the
// system shutting down, Ctrl+C in the shell) end the event loop, so the
// window closes its ports and saves the offsets as when closed by hand. The
// handler only writes a byte; the loop does the rest.
class QuitOnTerminate
{
public:
    explicit QuitOnTerminate(QCoreApplication &application);
    ~QuitOnTerminate();
    QuitOnTerminate(const QuitOnTerminate &) = delete;
    QuitOnTerminate &operator=(const QuitOnTerminate &) = delete;

private:
    int m_fds[2] = {-1, -1};
    std::unique_ptr<QSocketNotifier> m_notifier;
};

} // namespace startup

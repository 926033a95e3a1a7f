// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

class QCoreApplication;

namespace remote {

// vestrel --headless: the station with no window, run as a service beside
// the antenna. Works in the working folder (fromMenu: the user's data
// folder, as the menu entry does), opens the devices remote.cfg names that
// were open when the service last changed them, and serves the web page and
// the API until SIGTERM. Every message goes to standard error (the journal
// under systemd) and to vestrel.log. Returns the exit code.
int runHeadless(QCoreApplication &application, bool fromMenu);

} // namespace remote

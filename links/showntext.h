// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArrayView>
#include <QString>

// Text that came from outside (a daemon's line, a device's reply) as the log
// may show it: decoded as UTF-8 with invalid bytes replaced, control and
// layout characters written as \xHH or \uHHHH so that neither the window nor
// a terminal showing vestrel.log acts on them, a final line end dropped, and
// at most maxChars characters kept ("..." marks a cut).
QString shownText(QByteArrayView bytes, qsizetype maxChars = 200);

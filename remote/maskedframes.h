// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>

namespace remote {

// Follows the frames a WebSocket client sends, as their bytes arrive in any
// pieces, only far enough to see that each one is masked: a server must close
// the connection on a frame that is not (RFC 6455, section 5.1), and Qt's
// WebSocket server takes one as it comes. The payload is skipped unread.
class MaskedFrames
{
public:
    // False once a frame's header has shown no mask, and from then on.
    bool take(const char *data, qsizetype size);
    bool take(const QByteArray &bytes) { return take(bytes.constData(), bytes.size()); }

private:
    unsigned char m_header[14] {};  // two bytes, the extended length, the mask
    int m_have = 0;
    int m_need = 2;
    quint64 m_payloadLeft = 0;
    bool m_ok = true;
};

} // namespace remote

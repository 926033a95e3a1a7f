// SPDX-License-Identifier: GPL-3.0-or-later
#include "remote/maskedframes.h"

namespace remote {

bool MaskedFrames::take(const char *data, qsizetype size)
{
    qsizetype at = 0;
    while (m_ok && at < size) {
        if (m_payloadLeft > 0) {
            const quint64 skipped = qMin<quint64>(m_payloadLeft, quint64(size - at));
            m_payloadLeft -= skipped;
            at += qsizetype(skipped);
            continue;
        }
        m_header[m_have++] = static_cast<unsigned char>(data[at++]);
        if (m_have == 2) {
            if (!(m_header[1] & 0x80)) {
                m_ok = false;
                break;
            }
            const int length = m_header[1] & 0x7f;
            m_need = 2 + (length == 126 ? 2 : length == 127 ? 8 : 0) + 4;
        }
        if (m_have < m_need)
            continue;
        const int length = m_header[1] & 0x7f;
        quint64 payload = quint64(length);
        if (length >= 126) {
            payload = 0;
            for (int i = 2; i < m_need - 4; ++i)
                payload = payload << 8 | m_header[i];
        }
        m_payloadLeft = payload;
        m_have = 0;
        m_need = 2;
    }
    return m_ok;
}

} // namespace remote

// SPDX-License-Identifier: GPL-3.0-or-later
#include "transceiver/catreply.h"

#include <cstring>

namespace cat {

ReplyEvent ReplyAssembler::take(qint8 requestState, const QByteArray &chunk)
{
    ReplyEvent event;
    const int n = int(chunk.size());
    // What was held and what came, for the log; made only for a wrong message.
    const auto heldAndChunk = [this, &chunk, held = m_count] { return QByteArray(m_buffer, held) + chunk; };
    switch (requestState) {
    case RequestFrequency:
        if (n == frequencyReplySize) {
            m_count = 0;  // a whole reply alone; bytes held before it were a broken one
        } else if (m_count + n > frequencyReplySize) {
            m_count = 0;
            event.kind = ReplyEvent::WrongFrequency;
            event.shown = heldAndChunk();
            if (n > frequencyReplySize)
                return event;  // too long to be the start of the next reply
        }
        std::memcpy(m_buffer + m_count, chunk.constData(), size_t(n));
        m_count = quint8(m_count + n);
        if (m_count == frequencyReplySize) {
            // A wrong message and a whole reply cannot come from one chunk:
            // after a wrong message at most four bytes are held.
            m_count = 0;
            event.kind = ReplyEvent::Frequency;
            event.mhz = *decodeFrequency(QByteArray(m_buffer, frequencyReplySize));
        }
        return event;
    case RequestStatus:
        if (n == statusReplySize) {
            m_count = 0;
            event.kind = ReplyEvent::Status;
            event.transmitting = decodeTransmitting(chunk.at(0));
        } else {
            m_count = 0;
            event.kind = ReplyEvent::WrongStatus;
            event.shown = heldAndChunk();
        }
        return event;
    default:
        m_count = 0;
        event.kind = ReplyEvent::Unexpected;
        event.shown = heldAndChunk();
        return event;
    }
}

} // namespace cat

// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "transceiver/catframes.h"

#include <QByteArray>

namespace cat {

// What one chunk of bytes from the transceiver amounts to.
struct ReplyEvent {
    enum Kind {
        Incomplete,      // a frequency reply still being assembled
        Frequency,       // a whole frequency reply: mhz
        Status,          // a transmit-status reply: transmitting
        WrongFrequency,  // more bytes than a frequency reply holds: shown
        WrongStatus,     // a status reply of other than one byte: shown
        Unexpected,      // bytes while no reply is expected: shown
    };
    Kind kind = Incomplete;
    double mhz = 0;
    bool transmitting = false;
    QByteArray shown;  // the bytes held before this chunk, then the chunk
};

// Assembles the replies to the link's queries from the chunks the port
// delivers, given the reply expected when each chunk arrived. No port, no
// thread: the link feeds it on its own thread.
class ReplyAssembler
{
public:
    ReplyEvent take(qint8 requestState, const QByteArray &chunk);
    // Drops a partly assembled reply (the queue overflowed).
    void reset() { m_count = 0; }
    int held() const { return m_count; }

private:
    quint8 m_count = 0;
    char m_buffer[frequencyReplySize] = {};
};

} // namespace cat

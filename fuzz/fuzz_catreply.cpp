// SPDX-License-Identifier: GPL-3.0-or-later
// The transceiver reply handling fed arbitrary chunks in every request state,
// against a model of the rule kept as plain bytes; and the frequency frames
// for arbitrary frequencies: valid BCD, and read back as the rounded value.

#include "fuzzcheck.h"

#include "transceiver/catframes.h"
#include "transceiver/catreply.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <cmath>

namespace {

void checkFrame(quint32 hz)
{
    if (!cat::frameCanCarry(hz))
        return;
    const QByteArray frame = cat::setFrequencyFrame(hz);
    FUZZ_CHECK(frame.size() == 5 && frame.at(4) == 0x01 && fuzzing::isBcd(frame.left(4)),
               QStringLiteral("%1 Hz gives %2").arg(hz).arg(fuzzing::hex(frame)));
    const double sent = double((quint64(hz) + 5) / 10 * 10) / 1e6;
    FUZZ_CHECK(std::fabs(*cat::decodeFrequency(frame) - sent) < 1e-7,
               QStringLiteral("%1 Hz reads back as %2 MHz").arg(hz).arg(*cat::decodeFrequency(frame)));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    FuzzedDataProvider input(data, size);
    checkFrame(input.ConsumeIntegral<quint32>());

    cat::ReplyAssembler assembler;
    QByteArray held;  // the model: bytes of a frequency reply assembled so far
    while (input.remaining_bytes() > 0) {
        const qint8 state = qint8(input.ConsumeIntegralInRange(-1, 3));
        const std::string bytes = input.ConsumeRandomLengthString(12);
        const QByteArray chunk(bytes.data(), qsizetype(bytes.size()));
        if (chunk.isEmpty())
            continue;  // the link never passes an empty read on

        cat::ReplyEvent expected;
        expected.shown = held + chunk;
        if (state == cat::RequestFrequency) {
            if (chunk.size() == 5) {
                held = chunk;
            } else if (held.size() + chunk.size() > 5) {
                expected.kind = cat::ReplyEvent::WrongFrequency;
                held = chunk.size() > 5 ? QByteArray() : chunk;
            } else {
                held += chunk;
            }
            if (held.size() == 5) {
                expected.kind = cat::ReplyEvent::Frequency;
                expected.mhz = *cat::decodeFrequency(held);
                held.clear();
            }
        } else if (state == cat::RequestStatus) {
            expected.kind = chunk.size() == 1 ? cat::ReplyEvent::Status : cat::ReplyEvent::WrongStatus;
            expected.transmitting = (quint8(chunk.at(0)) & 0x80) == 0;
            held.clear();
        } else {
            expected.kind = cat::ReplyEvent::Unexpected;
            held.clear();
        }

        const cat::ReplyEvent got = assembler.take(state, chunk);
        auto where = [&] { return QStringLiteral("state %1, chunk %2").arg(state).arg(fuzzing::hex(chunk)); };
        FUZZ_CHECK(got.kind == expected.kind, where() + QStringLiteral(": kind %1, expected %2").arg(got.kind).arg(expected.kind));
        FUZZ_CHECK(assembler.held() == held.size() && held.size() < 5, where());
        if (got.kind == cat::ReplyEvent::Frequency) {
            FUZZ_CHECK(got.mhz == expected.mhz && got.mhz >= 0 && got.mhz < 1700, where());
        } else if (got.kind == cat::ReplyEvent::Status) {
            FUZZ_CHECK(got.transmitting == expected.transmitting, where());
        } else if (got.kind != cat::ReplyEvent::Incomplete) {
            FUZZ_CHECK(got.shown == expected.shown, where() + QStringLiteral(": shown %1").arg(fuzzing::hex(got.shown)));
        }
    }
    return 0;
}

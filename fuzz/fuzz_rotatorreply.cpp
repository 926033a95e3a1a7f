// SPDX-License-Identifier: GPL-3.0-or-later
// The rotator reply handling fed arbitrary reads: every answer must be the
// one the whole text since the last answer gives ("OK" first, then
// "ERROR/LIMIT"), however it was split and however much chatter came first,
// the refusal shown safely, and the text held stays bounded.

#include "fuzzcheck.h"

#include "links/seriallinks.h"
#include "links/showntext.h"
#include "serial/serialport.h"

#include <fuzzer/FuzzedDataProvider.h>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    FuzzedDataProvider input(data, size);
    // The reading needs no open port. The link takes the port as its child;
    // both live for the whole run.
    static SerialRotatorLink *link = new SerialRotatorLink(new SerialPort(QStringLiteral("/nonexistent/ttyFUZZ")));
    QString collected;
    QByteArray model;
    qsizetype total = 0;
    while (input.remaining_bytes() > 0 && total < 200000) {
        // Chatter repeated makes long texts without long inputs.
        const int repeat = input.ConsumeBool() ? 1 : input.ConsumeIntegralInRange(1, 300);
        const std::string piece = input.ConsumeRandomLengthString(64);
        const QByteArray read = QByteArray(piece.data(), qsizetype(piece.size())).repeated(repeat);

        total += read.size();
        QByteArray spaced = read;
        model += spaced.replace('\0', ' ');
        RotatorReply::Kind expected = RotatorReply::Pending;
        if (model.contains("OK"))
            expected = RotatorReply::Accepted;
        else if (model.contains("ERROR/LIMIT"))
            expected = RotatorReply::Refused;
        if (expected != RotatorReply::Pending)
            model.clear();

        const RotatorReply reply = link->interpretReply(read, collected);
        FUZZ_CHECK(reply.kind == expected, QStringLiteral("read %1: answer %2, expected %3")
                                               .arg(fuzzing::hex(read.left(80)))
                                               .arg(reply.kind)
                                               .arg(expected));
        if (reply.kind == RotatorReply::Refused)
            FUZZ_CHECK(reply.text == shownText(spaced), QStringLiteral("refusal shows %1").arg(reply.text));
        FUZZ_CHECK(collected.size() <= 1024 + read.size(), QStringLiteral("holds %1").arg(collected.size()));
    }
    return 0;
}

// SPDX-License-Identifier: GPL-3.0-or-later
// The daemon line reader fed arbitrary bytes in arbitrary pieces: every line
// it hands on is the one the whole stream gives (a line too long cut at the
// bound, what follows its break read as usual), none holds a line break, the
// bytes held stay bounded, and each line as the log shows it holds no
// control character and no broken character.

#include "fuzzcheck.h"

#include "hamlib/hamlibprotocol.h"
#include "links/showntext.h"

#include <fuzzer/FuzzedDataProvider.h>

using hamlib::LineReader;

namespace {

// The lines the whole stream holds, as the reader must hand them on.
QList<LineReader::Line> expectedLines(const QByteArray &stream)
{
    QList<LineReader::Line> lines;
    const QByteArrayList segments = stream.split('\n');
    for (qsizetype i = 0; i < segments.size(); ++i) {
        const QByteArray &segment = segments.at(i);
        const bool complete = i + 1 < segments.size();
        if (segment.size() > LineReader::maxLineLength)
            lines.append({segment.left(LineReader::maxLineLength), true});
        else if (complete)
            lines.append({segment.endsWith('\r') ? segment.chopped(1) : segment, false});
    }
    return lines;
}

void checkShown(const QByteArray &line)
{
    const QString shown = shownText(line);
    FUZZ_CHECK(shown.size() <= 200 * 6 + 3, QStringLiteral("shown as %1 characters").arg(shown.size()));
    for (qsizetype i = 0; i < shown.size(); ++i) {
        const char16_t c = shown.at(i).unicode();
        FUZZ_CHECK(c >= 0x20 && !(c >= 0x7f && c <= 0x9f), QStringLiteral("control character %1").arg(uint(c), 0, 16));
        if (QChar::isHighSurrogate(c))
            FUZZ_CHECK(i + 1 < shown.size() && QChar::isLowSurrogate(shown.at(++i).unicode()), "lone surrogate");
        else
            FUZZ_CHECK(!QChar::isLowSurrogate(c), "lone surrogate");
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    FuzzedDataProvider input(data, size);
    LineReader reader;
    QByteArray stream;
    QList<LineReader::Line> read;
    while (input.remaining_bytes() > 0 && stream.size() < 40000) {
        // A piece repeated makes long lines without long inputs.
        const int repeat = input.ConsumeBool() ? 1 : input.ConsumeIntegralInRange(1, 600);
        const std::string piece = input.ConsumeRandomLengthString(64);
        const QByteArray bytes = QByteArray(piece.data(), qsizetype(piece.size())).repeated(repeat);
        stream += bytes;
        reader.feed(bytes);
        // Taken now or later: lines may wait for the next piece.
        const int take = input.ConsumeBool() ? 1000000 : input.ConsumeIntegralInRange(0, 3);
        for (int i = 0; i < take; ++i) {
            const auto line = reader.next();
            if (!line)
                break;
            FUZZ_CHECK(line->text.size() <= LineReader::maxLineLength, QStringLiteral("%1 bytes").arg(line->text.size()));
            FUZZ_CHECK(!line->text.contains('\n'), fuzzing::hex(line->text.left(80)));
            checkShown(line->text);
            read << *line;
        }
        if (take >= 1000000)
            FUZZ_CHECK(reader.buffered() <= LineReader::maxLineLength + bytes.size(),
                       QStringLiteral("holds %1 bytes").arg(reader.buffered()));
    }
    while (const auto line = reader.next())
        read << *line;
    const QList<LineReader::Line> expected = expectedLines(stream);
    FUZZ_CHECK(read.size() == expected.size(), QStringLiteral("%1 lines, expected %2").arg(read.size()).arg(expected.size()));
    for (qsizetype i = 0; i < read.size(); ++i)
        FUZZ_CHECK(read.at(i).text == expected.at(i).text && read.at(i).cut == expected.at(i).cut,
                   QStringLiteral("line %1: %2, expected %3")
                       .arg(i)
                       .arg(fuzzing::hex(read.at(i).text.left(40)), fuzzing::hex(expected.at(i).text.left(40))));
    return 0;
}

// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// Shared by the fuzz targets: an invariant that breaks stops the run with a
// crash, so libFuzzer keeps the input that broke it.

#include <QByteArray>
#include <QString>

#include <cstdio>
#include <cstdlib>

#define FUZZ_CHECK(condition, detail)                                                                       \
    do {                                                                                                    \
        if (!(condition)) {                                                                                 \
            std::fprintf(stderr, "invariant broken at %s:%d: %s\n  %s\n", __FILE__, __LINE__, #condition,   \
                         QString(detail).toLocal8Bit().constData());                                       \
            std::abort();                                                                                   \
        }                                                                                                   \
    } while (0)

namespace fuzzing {

inline QString hex(const QByteArray &bytes)
{
    return QString::fromLatin1(bytes.toHex(' '));
}

// Every nibble a decimal digit.
inline bool isBcd(const QByteArray &bytes)
{
    for (const char byte : bytes)
        if ((quint8(byte) >> 4) > 9 || (quint8(byte) & 0x0f) > 9)
            return false;
    return true;
}

} // namespace fuzzing

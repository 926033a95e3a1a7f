// SPDX-License-Identifier: GPL-3.0-or-later
// Opens one serial port and prints how it went: "open", or the failure's
// number and the hint line. Run as another user by tst_portaccess.
#include "serial/serialport.h"

#include <QCoreApplication>

#include <cstdio>

int main(int argc, char *argv[])
{
    QCoreApplication application(argc, argv);
    if (argc != 2)
        return 2;
    SerialPort port(QString::fromLocal8Bit(argv[1]));
    if (port.open(QIODevice::ReadWrite)) {
        std::printf("open\n");
        return 0;
    }
    std::printf("%d %s\n", int(port.openFailure()), qPrintable(port.openFailureHint()));
    return 1;
}

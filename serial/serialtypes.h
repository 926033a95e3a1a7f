// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>
#include <QStringList>

#include <cstddef>

// Line parameter values. The numbers are those that existing setups and logs
// refer to (BAUD9600 is 12), so they stay fixed.
enum BaudRateType {
    BAUD50 = 0, BAUD75, BAUD110, BAUD134, BAUD150, BAUD200, BAUD300, BAUD600, BAUD1200,
    BAUD1800, BAUD2400, BAUD4800, BAUD9600, BAUD14400, BAUD19200, BAUD38400, BAUD56000,
    BAUD57600, BAUD76800, BAUD115200, BAUD128000, BAUD256000
};
enum DataBitsType { DATA_5 = 0, DATA_6, DATA_7, DATA_8 };
enum ParityType { PAR_NONE = 0, PAR_ODD, PAR_EVEN, PAR_MARK, PAR_SPACE };
enum StopBitsType { STOP_1 = 0, STOP_1_5, STOP_2 };
enum FlowType { FLOW_OFF = 0, FLOW_HARDWARE, FLOW_XONXOFF };

struct SerialParameters {
    BaudRateType baudRate = BAUD9600;
    DataBitsType dataBits = DATA_8;
    ParityType parity = PAR_NONE;
    StopBitsType stopBits = STOP_1;
    FlowType flowControl = FLOW_OFF;
};

// The values offered to the operator, in list order, with their texts. One
// table per parameter: list positions, values and texts come only from here.
namespace serialvalues {

template <typename T>
struct Entry {
    T value;
    const char *text;
};

inline constexpr Entry<BaudRateType> baudRates[] = {
    {BAUD110, "110"},       {BAUD300, "300"},       {BAUD600, "600"},
    {BAUD1200, "1200"},     {BAUD2400, "2400"},     {BAUD4800, "4800"},
    {BAUD9600, "9600"},     {BAUD14400, "14400"},   {BAUD19200, "19200"},
    {BAUD38400, "38400"},   {BAUD56000, "56000"},   {BAUD57600, "57600"},
    {BAUD115200, "115200"}, {BAUD128000, "128000"}, {BAUD256000, "256000"},
};
inline constexpr Entry<DataBitsType> dataBits[] = {
    {DATA_5, "5"}, {DATA_6, "6"}, {DATA_7, "7"}, {DATA_8, "8"},
};
inline constexpr Entry<ParityType> parities[] = {
    {PAR_NONE, "none"}, {PAR_ODD, "odd"}, {PAR_EVEN, "even"}, {PAR_MARK, "mark"}, {PAR_SPACE, "space"},
};
inline constexpr Entry<StopBitsType> stopBits[] = {
    {STOP_1, "1"}, {STOP_1_5, "1.5"}, {STOP_2, "2"},
};
inline constexpr Entry<FlowType> flowControls[] = {
    {FLOW_OFF, "off"}, {FLOW_HARDWARE, "hardware"}, {FLOW_XONXOFF, "xonxoff"},
};

// Text of a value; empty for a value the table does not offer.
template <typename T, std::size_t N>
QString textOf(const Entry<T> (&table)[N], T value)
{
    for (const auto &entry : table)
        if (entry.value == value)
            return QString::fromLatin1(entry.text);
    return QString();
}

// List position of a value, or -1.
template <typename T, std::size_t N>
int positionOf(const Entry<T> (&table)[N], T value)
{
    for (std::size_t i = 0; i < N; ++i)
        if (table[i].value == value)
            return int(i);
    return -1;
}

// Value at a list position, if the position is in the table.
template <typename T, std::size_t N>
bool valueAt(const Entry<T> (&table)[N], int position, T &value)
{
    if (position < 0 || std::size_t(position) >= N)
        return false;
    value = table[position].value;
    return true;
}

template <typename T, std::size_t N>
QStringList texts(const Entry<T> (&table)[N])
{
    QStringList list;
    for (const auto &entry : table)
        list << QString::fromLatin1(entry.text);
    return list;
}

int baudRateNumber(BaudRateType rate);  // 9600 for BAUD9600; 0 if unknown

} // namespace serialvalues

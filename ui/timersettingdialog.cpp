// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/timersettingdialog.h"

#include "ui_timerSettingdialog.h"

#include <optional>

namespace {

// Shortest readout interval the transceiver link can keep up with.
constexpr quint32 minimumMessageDelay = 10;

// A whole number of time units; negative entries are refused rather than
// wrapped into huge unsigned values.
std::optional<quint32> parseTime(const QString &text)
{
    bool ok = false;
    const int value = text.toInt(&ok, 10);
    if (!ok || value < 0)
        return std::nullopt;
    return quint32(value);
}

} // namespace

timerSettingdialog::timerSettingdialog(QWidget *parent)
    : QDialog(parent)
    , m_ui(std::make_unique<Ui::timerSettingdialogClass>())
{
    m_ui->setupUi(this);
    showValues();
}

timerSettingdialog::~timerSettingdialog() = default;

void timerSettingdialog::setRepetitionTime(quint16 seconds)
{
    repetitionTime = seconds;
    m_ui->lineRepetitionTime->setText(QString::number(repetitionTime));
}

void timerSettingdialog::setMessageDelay(quint16 milliseconds)
{
    messageDelay = milliseconds;
    m_ui->lineMessageDelay->setText(QString::number(messageDelay));
}

void timerSettingdialog::showValues()
{
    m_ui->lineRepetitionTime->setText(QString::number(repetitionTime));
    m_ui->lineMessageDelay->setText(QString::number(messageDelay));
}

void timerSettingdialog::on_buttonTimerSettingConfirm_clicked()
{
    const std::optional<quint32> repetition = parseTime(m_ui->lineRepetitionTime->text());
    if (!repetition)
        return;
    const std::optional<quint32> delay = parseTime(m_ui->lineMessageDelay->text());
    if (!delay || *delay < minimumMessageDelay)
        return;
    repetitionTime = *repetition;
    messageDelay = *delay;
    emit timeConfirmed();
    close();
}

void timerSettingdialog::on_buttonTimerSettingStorno_clicked()
{
    showValues();
    close();
}

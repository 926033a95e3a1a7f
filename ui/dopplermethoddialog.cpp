// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/dopplermethoddialog.h"

#include "ui/spinboxrefusal.h"
#include "ui_DopplerMethodDialog.h"

#include <QPushButton>

#include <cmath>

namespace {

QString megahertz(double hz)
{
    return QString::number(hz / 1e6, 'f', 6);
}

// The sky frequency, and the radio's IF behind a transverter.
QString frequencyText(double skyHz, const Transverter &transverter)
{
    const QString sky = megahertz(skyHz) + QStringLiteral(" MHz");
    if (!transverter.on)
        return sky;
    const auto radio = transverter.radioHz(skyHz);
    return sky + (radio ? QStringLiteral(" (radio %1)").arg(megahertz(*radio)) : QStringLiteral(" (radio: none)"));
}

std::optional<double> typedMHz(const QString &text)
{
    bool ok = false;
    const double mhz = text.trimmed().toDouble(&ok);
    if (!ok || !std::isfinite(mhz) || mhz < 0 || mhz >= 1e6)
        return std::nullopt;
    return std::round(mhz * 1e6) / 1e6;  // to 1 Hz
}

} // namespace

DopplerMethodDialog::DopplerMethodDialog(QWidget *parent)
    : QDialog(parent)
    , m_ui(new Ui::DopplerMethodDialogClass)
{
    m_ui->setupUi(this);
    sayRefusedKeys(this);
    for (const auto &name : dopplerMethodNames)
        m_ui->comboMethod->addItem(tr(name.shown), int(name.method));
    connect(m_ui->buttonsMethod, &QDialogButtonBox::rejected, this, &QDialog::reject);
    const auto preview = [this] {
        QString problem;
        if (const auto typed = parsed(problem); typed && m_record)
            paint(*typed, *m_record);
    };
    connect(m_ui->comboMethod, &QComboBox::currentIndexChanged, this, preview);
    connect(m_ui->lineSkedFrequency, &QLineEdit::textChanged, this, preview);
    connect(m_ui->checkTransverter, &QCheckBox::toggled, this, preview);
    connect(m_ui->lineLocalOscillator, &QLineEdit::textChanged, this, preview);
    connect(m_ui->comboTransverterSense, &QComboBox::currentIndexChanged, this, preview);
    connect(m_ui->buttonsMethod, &QDialogButtonBox::accepted, this, [this] {
        if (const auto settings = entered()) {
            emit methodConfirmed(*settings);
            accept();
        }
    });
}

DopplerMethodDialog::~DopplerMethodDialog() = default;

void DopplerMethodDialog::show(const DopplerSettings &settings)
{
    m_ui->comboMethod->setCurrentIndex(m_ui->comboMethod->findData(int(settings.method)));
    m_ui->lineSkedFrequency->setText(QString::number(settings.skedMHz, 'f', 6));
    m_ui->checkTransverter->setChecked(settings.transverter.on);
    m_ui->lineLocalOscillator->setText(QString::number(settings.transverter.localOscillatorHz / 1e6, 'f', 6));
    m_ui->comboTransverterSense->setCurrentIndex(settings.transverter.loAbove ? 1 : 0);
    m_ui->checkSplit->setChecked(settings.split);
    m_ui->checkHoldTransmit->setChecked(settings.holdTransmit);
    m_ui->spinTransmitPeriod->setValue(settings.transmitPeriodSeconds);
    m_ui->spinTransmitLimit->setValue(settings.transmitLimitSeconds);
    m_ui->labelMethodProblem->clear();
    QDialog::show();
}

std::optional<DopplerSettings> DopplerMethodDialog::entered()
{
    QString problem;
    const auto settings = parsed(problem);
    m_ui->labelMethodProblem->setText(problem);
    if (!settings)
        return std::nullopt;
    if (const auto refusal = m_check ? m_check(*settings) : std::nullopt) {
        m_ui->labelMethodProblem->setText(*refusal);
        return std::nullopt;
    }
    return settings;
}

std::optional<DopplerSettings> DopplerMethodDialog::parsed(QString &problem) const
{
    DopplerSettings settings;
    settings.method = DopplerMethod(m_ui->comboMethod->currentData().toInt());
    const auto sked = typedMHz(m_ui->lineSkedFrequency->text());
    const auto lo = typedMHz(m_ui->lineLocalOscillator->text());
    settings.transverter.on = m_ui->checkTransverter->isChecked();
    settings.transverter.loAbove = m_ui->comboTransverterSense->currentIndex() == 1;
    settings.split = m_ui->checkSplit->isChecked();
    settings.holdTransmit = m_ui->checkHoldTransmit->isChecked();
    settings.transmitPeriodSeconds = m_ui->spinTransmitPeriod->value();
    settings.transmitLimitSeconds = m_ui->spinTransmitLimit->value();
    if (!sked || *sked <= 0)
        problem = tr("The sked frequency is not one in MHz");
    else if (!lo)
        problem = tr("The local oscillator is not a frequency in MHz");
    else if (settings.transverter.on && !Transverter {true, *lo * 1e6, settings.transverter.loAbove}.radioHz(*sked * 1e6))
        problem = tr("The sked frequency is on the other side of the local oscillator");
    if (!problem.isEmpty())
        return std::nullopt;
    settings.skedMHz = *sked;
    settings.transverter.localOscillatorHz = std::round(*lo * 1e6);
    return settings;
}

// While the dialog is open the preview follows its fields, not only what was confirmed.
void DopplerMethodDialog::showFrequencies(const DopplerSettings &settings, const TrackingRecord &record)
{
    m_record = record;
    QString problem;
    const auto typed = isVisible() ? parsed(problem) : std::nullopt;
    paint(typed.value_or(settings), record);
}

void DopplerMethodDialog::paint(const DopplerSettings &settings, const TrackingRecord &record)
{
    // The shifts at the sked frequency, as the station will use them.
    const bool specified = settings.method == DopplerMethod::Specified;
    const double scale = specified ? 1.0 : bandScale(settings.skedMHz * 1e6, record.frequency);
    const double self = record.dopplerHome * scale;
    const double dx = record.dopplerDx * scale;
    const SkyFrequencies sky = methodFrequencies(settings.method, settings.skedMHz * 1e6, self, dx);
    m_ui->labelReceive->setText(specified ? tr("the radio's frequency + shift")
                                          : frequencyText(sky.receiveHz, settings.transverter));
    m_ui->labelTransmit->setText(specified ? tr("the radio's frequency - shift with PTT")
                                           : frequencyText(sky.transmitHz, settings.transverter));
    m_ui->labelShifts->setText(tr("own echo %1 Hz, DX %2 Hz")
                                   .arg(self, 0, 'f', 1)
                                   .arg(dx, 0, 'f', 1));
}

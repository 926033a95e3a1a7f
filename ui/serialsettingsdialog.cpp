// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/serialsettingsdialog.h"

#include "ui_serialSettingsDialog.h"

namespace {

// The five lists of one port.
struct PortCombos {
    QComboBox *baudRate;
    QComboBox *dataBits;
    QComboBox *parity;
    QComboBox *stopBits;
    QComboBox *flowControl;
};

PortCombos combosA(const Ui::serialSettingsDialogClass &ui)
{
    return {ui.comboBaudrateA, ui.comboDatabitsA, ui.comboParityA, ui.comboStopbitA, ui.comboFlowA};
}

PortCombos combosB(const Ui::serialSettingsDialogClass &ui)
{
    return {ui.comboBaudrateB, ui.comboDatabitsB, ui.comboParityB, ui.comboStopbitB, ui.comboFlowB};
}

void fill(const PortCombos &combos)
{
    using namespace serialvalues;
    const auto refill = [](QComboBox *combo, const QStringList &items) {
        combo->clear();
        combo->addItems(items);
    };
    refill(combos.baudRate, texts(baudRates));
    refill(combos.dataBits, texts(dataBits));
    refill(combos.parity, texts(parities));
    refill(combos.stopBits, texts(stopBits));
    refill(combos.flowControl, texts(flowControls));
}

// A combo without a current entry leaves the field as it was.
template <typename T, std::size_t N>
void storeSelection(const QComboBox *combo, const serialvalues::Entry<T> (&table)[N], T &field)
{
    serialvalues::valueAt(table, combo->currentIndex(), field);
}

// A value the list does not offer leaves the combo as it was.
template <typename T, std::size_t N>
void showSelection(QComboBox *combo, const serialvalues::Entry<T> (&table)[N], T value)
{
    const int position = serialvalues::positionOf(table, value);
    if (position >= 0)
        combo->setCurrentIndex(position);
}

void storePort(const PortCombos &combos, SerialParameters &parameters)
{
    using namespace serialvalues;
    storeSelection(combos.baudRate, baudRates, parameters.baudRate);
    storeSelection(combos.dataBits, dataBits, parameters.dataBits);
    storeSelection(combos.parity, parities, parameters.parity);
    storeSelection(combos.stopBits, stopBits, parameters.stopBits);
    storeSelection(combos.flowControl, flowControls, parameters.flowControl);
}

void showPort(const PortCombos &combos, const SerialParameters &parameters)
{
    using namespace serialvalues;
    showSelection(combos.baudRate, baudRates, parameters.baudRate);
    showSelection(combos.dataBits, dataBits, parameters.dataBits);
    showSelection(combos.parity, parities, parameters.parity);
    showSelection(combos.stopBits, stopBits, parameters.stopBits);
    showSelection(combos.flowControl, flowControls, parameters.flowControl);
}

} // namespace

serialSettingsDialog::serialSettingsDialog(QWidget *parent)
    : QDialog(parent)
    , m_ui(std::make_unique<Ui::serialSettingsDialogClass>())
{
    m_ui->setupUi(this);
    fill(combosA(*m_ui));
    fill(combosB(*m_ui));
    parametersA = SerialParameters();
    parametersB = SerialParameters();
    showParameters();
}

serialSettingsDialog::~serialSettingsDialog() = default;

QString serialSettingsDialog::baudRateText(BaudRateType value)
{
    return serialvalues::textOf(serialvalues::baudRates, value);
}

QString serialSettingsDialog::dataBitsText(DataBitsType value)
{
    return serialvalues::textOf(serialvalues::dataBits, value);
}

QString serialSettingsDialog::flowControlText(FlowType value)
{
    return serialvalues::textOf(serialvalues::flowControls, value);
}

QString serialSettingsDialog::parityText(ParityType value)
{
    return serialvalues::textOf(serialvalues::parities, value);
}

QString serialSettingsDialog::stopBitsText(StopBitsType value)
{
    return serialvalues::textOf(serialvalues::stopBits, value);
}

void serialSettingsDialog::storeParameters()
{
    storePort(combosA(*m_ui), parametersA);
    storePort(combosB(*m_ui), parametersB);
}

void serialSettingsDialog::showParameters()
{
    showPort(combosA(*m_ui), parametersA);
    showPort(combosB(*m_ui), parametersB);
}

void serialSettingsDialog::on_buttonSerialSettingsConfirm_clicked()
{
    storeParameters();
    close();
}

void serialSettingsDialog::on_buttonSerialSettingsStorno_clicked()
{
    showParameters();
    close();
}

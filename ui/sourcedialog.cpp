// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/sourcedialog.h"

#include "ephemeris/locator.h"
#include "ephemeris/radiosource.h"
#include "ui_SourceDialog.h"

#include <QLineEdit>
#include <QPushButton>

#include <cmath>

SourceDialog::SourceDialog(QWidget *parent)
    : QDialog(parent)
    , m_ui(new Ui::SourceDialogClass)
{
    m_ui->setupUi(this);
    m_ui->comboRadioSource->addItem(QString());  // none
    m_ui->comboRadioSource->addItems(radiosource::names());
    // Typed text is checked on OK; this only keeps a paste from running on.
    m_ui->comboRadioSource->lineEdit()->setMaxLength(64);
    connect(m_ui->buttonsSource, &QDialogButtonBox::rejected, this, &QDialog::reject);
    connect(m_ui->buttonsSource, &QDialogButtonBox::accepted, this, [this] {
        if (const auto settings = entered()) {
            emit sourceConfirmed(*settings);
            accept();
        }
    });
}

SourceDialog::~SourceDialog() = default;

void SourceDialog::show(const SourceSettings &settings)
{
    (settings.builtIn ? m_ui->radioSourceBuiltIn : m_ui->radioSourceFile)->setChecked(true);
    m_ui->lineHomeLocator->setText(settings.homeLocator);
    m_ui->lineDxLocator->setText(settings.dxLocator);
    m_ui->lineSourceFrequency->setText(QString::number(settings.frequencyMHz, 'g', 10));
    m_ui->comboRadioSource->setCurrentText(settings.radioSource);
    m_ui->checkRefraction->setChecked(settings.refraction);
    m_ui->labelSourceProblem->clear();
    QDialog::show();
}

std::optional<SourceSettings> SourceDialog::entered()
{
    SourceSettings settings;
    settings.builtIn = m_ui->radioSourceBuiltIn->isChecked();
    settings.homeLocator = m_ui->lineHomeLocator->text().trimmed().toUpper();
    settings.dxLocator = m_ui->lineDxLocator->text().trimmed().toUpper();
    settings.radioSource = m_ui->comboRadioSource->currentText().trimmed();
    settings.refraction = m_ui->checkRefraction->isChecked();
    bool ok = false;
    settings.frequencyMHz = m_ui->lineSourceFrequency->text().toDouble(&ok);
    QString problem;
    QString sourceProblem;
    if (!settings.homeLocator.isEmpty() && !positionOfLocator(settings.homeLocator))
        problem = tr("The station locator is not a locator (like JO70FD)");
    else if (!settings.dxLocator.isEmpty() && !positionOfLocator(settings.dxLocator))
        problem = tr("The DX locator is not a locator (like FN20)");
    else if (!ok || !std::isfinite(settings.frequencyMHz) || settings.frequencyMHz <= 0 || settings.frequencyMHz >= 1e6)
        problem = tr("The frequency is not one in MHz");
    else if (!settings.radioSource.isEmpty() && !radiosource::fromText(settings.radioSource, &sourceProblem))
        problem = tr("The radio source: %1").arg(sourceProblem);
    if (const auto source = radiosource::fromText(settings.radioSource))
        settings.radioSource = source->name;  // typed coordinates kept in one form
    else if (settings.builtIn && settings.homeLocator.isEmpty())
        problem = tr("Computing here needs the station locator");
    m_ui->labelSourceProblem->setText(problem);
    if (!problem.isEmpty())
        return std::nullopt;
    return settings;
}

// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/aboutdialog.h"

#include "settings/settingsfile.h"
#include "startup/firststart.h"
#include "ui_AboutDialog.h"

#include <QFileInfo>

AboutDialog::AboutDialog(const QString &settingsFolder, const QString &logPath, QWidget *parent)
    : QDialog(parent)
    , m_ui(std::make_unique<Ui::AboutDialogClass>())
{
    m_ui->setupUi(this);
    m_ui->labelVersion->setText(QStringLiteral("Vestrel %1 (Qt %2)").arg(QStringLiteral(VESTREL_VERSION), qVersion()));
    m_ui->labelFiles->setText(startup::whereKept(settingsFolder, logPath));
    connect(m_ui->buttonBox, &QDialogButtonBox::rejected, this, &QDialog::reject);
}

AboutDialog::~AboutDialog() = default;

void AboutDialog::showFor(QWidget *parent, const QString &logPath)
{
    auto *box = parent ? parent->findChild<AboutDialog *>(QString(), Qt::FindDirectChildrenOnly) : nullptr;
    if (!box) {
        box = new AboutDialog(QFileInfo(SettingsFile::defaultPath()).absolutePath(), logPath, parent);
        box->setAttribute(Qt::WA_DeleteOnClose);
    }
    box->show();
    box->raise();
    box->activateWindow();
}

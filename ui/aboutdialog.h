// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QDialog>
#include <QString>

#include <memory>

namespace Ui {
class AboutDialogClass;
}

// Help > About: the version, what the program does, its licence, and
// where the settings and the log are kept.
class AboutDialog : public QDialog
{
    Q_OBJECT

public:
    AboutDialog(const QString &settingsFolder, const QString &logPath, QWidget *parent = nullptr);
    ~AboutDialog() override;

    // Opens the box over parent for the working folder's settings and the log
    // at logPath, or brings back the one already open.
    static void showFor(QWidget *parent, const QString &logPath);

private:
    std::unique_ptr<Ui::AboutDialogClass> m_ui;
};

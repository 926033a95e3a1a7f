#pragma once

#include <QDialog>

#include <memory>

namespace Ui {
class logDialogClass;
}

// The running record of the session: one paragraph per message, kept (and
// growing) for the whole run whether the window is shown or not.
class logDialog : public QDialog
{
    Q_OBJECT

public:
    explicit logDialog(QWidget *parent = nullptr);
    ~logDialog() override;

    void append(const QString &text);

private:
    std::unique_ptr<Ui::logDialogClass> m_ui;
    bool m_hasParagraph = false;
};

#include "ui/logdialog.h"

#include "ui_logDialog.h"

#include <QScrollBar>
#include <QTextCursor>
#include <QTextDocument>

logDialog::logDialog(QWidget *parent)
    : QDialog(parent)
    , m_ui(std::make_unique<Ui::logDialogClass>())
{
    m_ui->setupUi(this);
}

logDialog::~logDialog() = default;

void logDialog::append(const QString &text)
{
    // Inserted as plain text: device replies and file contents may look like
    // markup ("<b>", "&"), and the log must show them as they came.
    QScrollBar *scrollBar = m_ui->textLog->verticalScrollBar();
    const bool atBottom = scrollBar->value() == scrollBar->maximum();

    QTextCursor cursor(m_ui->textLog->document());
    cursor.movePosition(QTextCursor::End);
    // The document starts with one empty block; the first message uses it.
    // A flag, not isEmpty(), so that an empty first message is a paragraph too.
    if (m_hasParagraph)
        cursor.insertBlock(QTextBlockFormat(), QTextCharFormat());
    else
        cursor.setCharFormat(QTextCharFormat());
    cursor.insertText(text);
    m_hasParagraph = true;

    if (atBottom)
        scrollBar->setValue(scrollBar->maximum());
}

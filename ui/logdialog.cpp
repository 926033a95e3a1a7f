// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/logdialog.h"

#include "ui/logview.h"
#include "ui_logDialog.h"

#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>

namespace {

// A line break inside a message stays inside its paragraph.
QString oneParagraph(const QString &text)
{
    if (!text.contains(u'\n') && !text.contains(u'\r'))
        return text;
    QString result = text;
    result.replace(QLatin1String("\r\n"), QString(QChar::LineSeparator));
    result.replace(u'\r', QChar::LineSeparator);
    result.replace(u'\n', QChar::LineSeparator);
    return result;
}

// Selects the paragraph's text. QTextCursor's moves by block lay out the
// paragraph they start from; setting positions lays out nothing.
void selectText(QTextCursor &cursor, const QTextBlock &block)
{
    cursor.setPosition(block.position());
    cursor.setPosition(block.position() + block.length() - 1, QTextCursor::KeepAnchor);
}

} // namespace

logDialog::logDialog(QWidget *parent)
    : QDialog(parent)
    , m_ui(std::make_unique<Ui::logDialogClass>())
{
    m_ui->setupUi(this);
    // Nobody can undo in a read-only log, but every insertion would still be
    // kept for it, growing with each message.
    m_ui->textLog->setUndoRedoEnabled(false);
    connect(m_ui->checkUtcTimes, &QCheckBox::toggled, m_ui->textLog, &LogView::setTimesShown);
}

logDialog::~logDialog() = default;

void logDialog::setMessageLimit(int limit)
{
    m_limit = qMax(1, limit);
    while (m_messages > m_limit)
        dropOldest();
}

void logDialog::setCharacterLimit(qsizetype limit)
{
    m_characterLimit = qMax<qsizetype>(1, limit);
    while (m_messages > 1 && m_characters > m_characterLimit)
        dropOldest();
}

void logDialog::setRecordNote(const QString &note)
{
    m_recordNote = note;
    if (m_dropped == 0)
        return;
    QTextCursor cursor(m_ui->textLog->document());
    cursor.beginEditBlock();
    selectText(cursor, m_ui->textLog->document()->firstBlock());
    cursor.insertText(droppedNote(), QTextCharFormat());
    cursor.endEditBlock();
}

QString logDialog::droppedNote() const
{
    QString note = QStringLiteral("%1 earlier messages dropped from this window").arg(m_dropped);
    if (!m_recordNote.isEmpty())
        note += QStringLiteral("; ") + m_recordNote;
    return note;
}

void logDialog::append(const QString &text)
{
    appendAt(text, QDateTime::currentDateTimeUtc());
}

void logDialog::appendAt(const QString &text, const QDateTime &when)
{
    // Inserted as plain text: device replies and file contents may look like
    // markup ("<b>", "&"), and the log must show them as they came.
    QTextCursor cursor(m_ui->textLog->document());
    // One edit, so that the layout sees a paragraph added at the end (which
    // it need not lay out) rather than text typed into the last one; a
    // cursor moved outside an edit would lay out the paragraph it lands in.
    cursor.beginEditBlock();
    cursor.setPosition(m_ui->textLog->document()->characterCount() - 1);
    // The document starts with one empty block; the first message uses it.
    // A count, not isEmpty(), so that an empty first message is a paragraph too.
    if (m_messages > 0 || m_dropped > 0)
        cursor.insertBlock(QTextBlockFormat(), QTextCharFormat());
    else
        cursor.setCharFormat(QTextCharFormat());
    cursor.insertText(oneParagraph(text));
    cursor.block().setUserState(LogView::stampOf(when));
    cursor.endEditBlock();
    ++m_messages;
    m_lengths.push_back(text.size());
    m_characters += text.size();
    if (m_messages > m_limit)
        dropOldest();
    while (m_messages > 1 && m_characters > m_characterLimit)
        dropOldest();
}

void logDialog::dropOldest()
{
    QTextDocument *document = m_ui->textLog->document();
    QTextCursor cursor(document);
    cursor.beginEditBlock();
    const QString count = QString::number(m_dropped);
    --m_messages;
    m_characters -= m_lengths.front();
    m_lengths.pop_front();
    ++m_dropped;
    if (count != QLatin1String("0")) {
        // The oldest message follows the note; it goes with its paragraph break.
        const QTextBlock oldest = document->firstBlock().next();
        cursor.setPosition(oldest.position());
        cursor.setPosition(oldest.next().position(), QTextCursor::KeepAnchor);
        cursor.removeSelectedText();
        // Only the count changes: text replaced in a document is kept until
        // Qt compacts the whole of it, the more often the more is replaced.
        cursor.setPosition(0);
        cursor.setPosition(int(count.size()), QTextCursor::KeepAnchor);
        cursor.insertText(QString::number(m_dropped));
    } else {
        // The oldest message's paragraph becomes the note.
        selectText(cursor, document->firstBlock());
        cursor.insertText(droppedNote(), QTextCharFormat());
        cursor.block().setUserState(-1);  // the note is no message of its own time
    }
    cursor.endEditBlock();
}

// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/spinboxrefusal.h"

#include <QDoubleSpinBox>
#include <QKeyEvent>
#include <QLineEdit>
#include <QSpinBox>
#include <QToolTip>

namespace {

class RefusalTeller : public QObject
{
public:
    using QObject::QObject;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() != QEvent::KeyPress)
            return false;
        auto *box = qobject_cast<QAbstractSpinBox *>(watched);
        auto *key = static_cast<QKeyEvent *>(event);
        auto *edit = box ? box->findChild<QLineEdit *>() : nullptr;
        if (!edit || key->text().isEmpty() || !key->text().at(0).isPrint())
            return false;
        // What the text would be with the key taken, as the line edit would make it.
        QString text = edit->text();
        int at = edit->cursorPosition();
        if (edit->hasSelectedText()) {
            at = edit->selectionStart();
            text.remove(at, int(edit->selectedText().size()));
        }
        text.insert(at, key->text());
        int position = at + int(key->text().size());
        if (box->validate(text, position) != QValidator::Invalid)
            return false;
        QString prefix, suffix, range;
        if (auto *whole = qobject_cast<QSpinBox *>(box)) {
            prefix = whole->prefix();
            suffix = whole->suffix();
            range = QStringLiteral("%1 to %2").arg(whole->minimum()).arg(whole->maximum());
        } else if (auto *real = qobject_cast<QDoubleSpinBox *>(box)) {
            prefix = real->prefix();
            suffix = real->suffix();
            range = QStringLiteral("%1 to %2").arg(box->locale().toString(real->minimum(), 'f', real->decimals()),
                                                   box->locale().toString(real->maximum(), 'f', real->decimals()));
        } else {
            return false;
        }
        if (text.startsWith(prefix))
            text.remove(0, int(prefix.size()));
        if (!suffix.isEmpty() && text.endsWith(suffix))
            text.chop(int(suffix.size()));
        // Typed by the operator: short, and escaped, so that no key is taken as markup.
        QToolTip::showText(box->mapToGlobal(QPoint(0, box->height())),
                           QStringLiteral("<p>%1 is refused: from %2</p>")
                               .arg(text.trimmed().left(32).toHtmlEscaped(), range),
                           box);
        return false;
    }
};

} // namespace

void sayRefusedKeys(QWidget *root)
{
    auto *teller = new RefusalTeller(root);
    for (QAbstractSpinBox *box : root->findChildren<QAbstractSpinBox *>())
        box->installEventFilter(teller);
}

#pragma once

// Helpers for tests that drive the real main window.

#include "tracking/qt_vestrel.h"

#include <QAction>
#include <QApplication>
#include <QDir>
#include <QFileDialog>
#include <QLineEdit>
#include <QStringList>
#include <QTemporaryDir>
#include <QTest>
#include <QTextEdit>
#include <QTimer>

namespace windowtesting {

// A fresh working directory for store.cfg, left again on destruction.
class WorkDir
{
public:
    WorkDir()
        : m_previous(QDir::currentPath())
    {
        QDir::setCurrent(m_dir.path());
    }
    ~WorkDir() { QDir::setCurrent(m_previous); }
    QString path() const { return m_dir.path(); }
    QString file(const QString &name) const { return m_dir.filePath(name); }

private:
    QString m_previous;
    QTemporaryDir m_dir;
};

inline QTextEdit *logView(QWidget &window)
{
    return window.findChild<QTextEdit *>(QStringLiteral("textLog"));
}

inline QStringList logLines(QWidget &window)
{
    const QString text = logView(window)->toPlainText();
    return text.isEmpty() ? QStringList() : text.split(QLatin1Char('\n'));
}

template <typename T>
T *child(QWidget &window, const char *name)
{
    return window.findChild<T *>(QString::fromLatin1(name));
}

inline QAction *action(QWidget &window, const char *name)
{
    return window.findChild<QAction *>(QString::fromLatin1(name));
}

// Picks a file in the window's own "Open data file" dialog; an empty path cancels it.
inline void selectDataFile(Qt_Vestrel &window, const QString &path)
{
    QTimer::singleShot(0, [path] {
        auto *dialog = qobject_cast<QFileDialog *>(QApplication::activeModalWidget());
        if (!dialog)
            return;
        if (path.isEmpty()) {
            dialog->reject();
        } else {
            dialog->selectFile(path);
            QMetaObject::invokeMethod(dialog, "accept");
        }
    });
    window.on_actionOpen_data_file_activated();
}

// Types into a line edit and presses Return.
inline void enter(QLineEdit *line, const QString &text)
{
    line->setFocus();
    line->selectAll();
    QTest::keyClicks(line, text);
    QTest::keyClick(line, Qt::Key_Return);
}

} // namespace windowtesting

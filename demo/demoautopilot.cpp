// SPDX-License-Identifier: GPL-3.0-or-later
#include "demo/demoautopilot.h"

#include "demo/demostation.h"
#include "tracking/qt_vestrel.h"

#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>
#include <QTimer>

namespace {

constexpr int pollMs = 50;

template <typename T>
T *widget(Qt_Vestrel &window, const char *name)
{
    return window.findChild<T *>(QString::fromLatin1(name));
}

// Picks the entry of a list by its text, and tells whether it is picked.
std::function<void()> choose(Qt_Vestrel &w, const char *combo, const QString &text)
{
    return [&w, combo, text] {
        QComboBox *box = widget<QComboBox>(w, combo);
        box->setCurrentIndex(box->findText(text));
    };
}

std::function<bool()> chosen(Qt_Vestrel &w, const char *combo, const QString &text)
{
    return [&w, combo, text] { return widget<QComboBox>(w, combo)->currentText() == text; };
}

// Accepts the window's open-file dialog with path once it is up.
void acceptFileDialog(QObject *context, const QString &path, int attemptsLeft)
{
    auto *dialog = qobject_cast<QFileDialog *>(QApplication::activeModalWidget());
    if (!dialog) {
        if (attemptsLeft > 0)
            QTimer::singleShot(pollMs, context,
                               [context, path, attemptsLeft] { acceptFileDialog(context, path, attemptsLeft - 1); });
        return;
    }
    dialog->selectFile(path);
    // As the operator does: the dialog's own Open button.
    auto *buttons = dialog->findChild<QDialogButtonBox *>();
    QPushButton *open = buttons ? buttons->button(QDialogButtonBox::Open) : nullptr;
    if (open && open->isEnabled())
        open->click();
    else
        static_cast<QDialog *>(dialog)->done(QDialog::Accepted);
}

// Answers the question a dialog asks "Yes" once it is up.
void answerYes(QObject *context, int attemptsLeft)
{
    auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
    if (!box) {
        if (attemptsLeft > 0)
            QTimer::singleShot(pollMs, context, [context, attemptsLeft] { answerYes(context, attemptsLeft - 1); });
        return;
    }
    if (QAbstractButton *yes = box->button(QMessageBox::Yes))
        yes->click();
}

} // namespace

DemoAutopilot::DemoAutopilot(Qt_Vestrel &window, DemoStation &station, bool calibrate, QObject *parent)
    : QObject(parent)
    , m_window(window)
    , m_station(station)
    , m_timer(new QTimer(this))
{
    m_timer->setSingleShot(true);
    connect(m_timer, &QTimer::timeout, this, &DemoAutopilot::poll);
    buildSteps();
    if (calibrate)
        addCalibrationSteps();
}

void DemoAutopilot::start(int pauseMs, int timeoutMs)
{
    m_pauseMs = pauseMs;
    m_timeoutMs = timeoutMs;
    m_next = 0;
    m_acted = false;
    m_waitedMs = 0;
    m_finished = false;
    // The automation works in Qt's own dialog; a desktop's native one is out of reach.
    QCoreApplication::setAttribute(Qt::AA_DontUseNativeDialogs);
    m_timer->start(m_pauseMs);
}

void DemoAutopilot::buildSteps()
{
    Qt_Vestrel &w = m_window;
    const auto always = [] { return true; };
    const auto statusIs = [&w](const char *label, const char *text) {
        return [&w, label, text] { return widget<QLabel>(w, label)->text() == QLatin1String(text); };
    };
    const auto click = [&w](const char *name) { return [&w, name] { widget<QAbstractButton>(w, name)->click(); }; };
    const auto checked = [&w](const char *name) {
        return [&w, name] { return widget<QAbstractButton>(w, name)->isChecked(); };
    };
    const QString rotator = m_station.portName(DemoStation::Rotator);
    const QString transceiver = m_station.portName(DemoStation::Transceiver);
    const QString dataFile = m_station.dataFilePath();

    m_steps = {
        {QStringLiteral("pick the rotator's port"), always, choose(w, "comboSerialNameA", rotator),
         chosen(w, "comboSerialNameA", rotator)},
        {QStringLiteral("pick the transceiver's port"), always, choose(w, "comboSerialNameB", transceiver),
         chosen(w, "comboSerialNameB", transceiver)},
        {QStringLiteral("open port A"), always, click("buttonOpenSerialA"),
         statusIs("labelSerialStatusA", "Status: connected")},
        {QStringLiteral("open port B"), always, click("buttonOpenSerialB"),
         statusIs("labelSerialStatusB", "Status: connected")},
        {QStringLiteral("choose the data file"), always, [this] { chooseDataFile(); },
         [&w, dataFile] {
             return widget<QLabel>(w, "labelFileAddress")->text() == QStringLiteral("Opened file: %1").arg(dataFile);
         }},
        // Port B first: starting tracking then runs a cycle with the Doppler
        // step at once, so the Doppler is known when "Track frequency" is ticked.
        {QStringLiteral("Auto on port B"), always, click("radioSerialBAuto"), checked("radioSerialBAuto")},
        {QStringLiteral("Auto on port A"), always, click("radioSerialAAuto"), checked("radioSerialAAuto")},
        // "Track frequency" can be ticked once the transceiver has been read.
        {QStringLiteral("tick Track frequency"), [&w] { return widget<QCheckBox>(w, "checkDoppler")->isEnabled(); },
         click("checkDoppler"), checked("checkDoppler")},
        // So that PTT in the simulator moves the transmit frequency.
        {QStringLiteral("tick PTT"), [&w] { return widget<QCheckBox>(w, "check_PTT")->isEnabled(); },
         click("check_PTT"), checked("check_PTT")},
    };
}

void DemoAutopilot::addCalibrationSteps()
{
    Qt_Vestrel &w = m_window;
    const auto always = [] { return true; };
    const auto offsetsShown = [&w] {
        return !widget<QLineEdit>(w, "lineAzimutOffset")->text().isEmpty()
            && widget<QLineEdit>(w, "lineAzimutOffset")->text() != QLatin1String("0");
    };
    // A whole cross-scan at the operator's settings: three cuts of 27 points.
    constexpr int scanTimeoutMs = 15 * 60 * 1000;
    const std::vector<Step> steps = {
        {QStringLiteral("open Calibrate..."), always, [&w] { widget<QAbstractButton>(w, "buttonCalibrate")->click(); },
         [&w] { return widget<QDialog>(w, "CalibrationDialog")->isVisible(); }},
        {QStringLiteral("pick the Sun"), always, choose(w, "comboCalibrationTarget", QStringLiteral("Sun")),
         chosen(w, "comboCalibrationTarget", QStringLiteral("Sun"))},
        {QStringLiteral("pick Cross-scan"), always,
         choose(w, "comboCalibrationMeasurement", QStringLiteral("Cross-scan")),
         chosen(w, "comboCalibrationMeasurement", QStringLiteral("Cross-scan"))},
        {QStringLiteral("pick the simulated receiver"), always,
         choose(w, "comboLevelSource", QStringLiteral("simulated receiver")),
         chosen(w, "comboLevelSource", QStringLiteral("simulated receiver"))},
        {QStringLiteral("start the cross-scan"), always,
         [&w] { widget<QAbstractButton>(w, "buttonCalibrationStart")->click(); },
         [&w] { return widget<QAbstractButton>(w, "buttonCalibrationStop")->isEnabled(); }},
        {QStringLiteral("scan the Sun"), always, [] {},
         [this, &w] {
             if (widget<QAbstractButton>(w, "buttonCalibrationApply")->isEnabled())
                 return true;
             // Ended without a result: say why, in the dialog's words.
             if (!widget<QAbstractButton>(w, "buttonCalibrationStop")->isEnabled())
                 finish(false, widget<QLabel>(w, "labelCalibrationStatus")->text());
             return false;
         },
         scanTimeoutMs},
        {QStringLiteral("apply the offsets"), always,
         [this, &w] {
             QTimer::singleShot(0, this, [this] { answerYes(this, 200); });
             widget<QAbstractButton>(w, "buttonCalibrationApply")->click();  // returns once answered
         },
         offsetsShown},
    };
    m_steps.insert(m_steps.end(), steps.begin(), steps.end());
}

void DemoAutopilot::chooseDataFile()
{
    const QString path = m_station.dataFilePath();
    QTimer::singleShot(0, this, [this, path] { acceptFileDialog(this, path, 200); });
    widget<QAction>(m_window, "actionOpen_data_file")->trigger();  // returns once the dialog is done
}

void DemoAutopilot::poll()
{
    if (m_finished)
        return;
    if (m_next >= m_steps.size()) {
        finish(true, QStringLiteral("station running"));
        return;
    }
    const Step &step = m_steps[m_next];
    const bool waiting = m_acted ? !step.done() : !step.ready();
    if (m_finished)  // a step that cannot end well said so
        return;
    if (waiting) {
        m_waitedMs += pollMs;
        if (m_waitedMs > (step.timeoutMs > 0 ? step.timeoutMs : m_timeoutMs)) {
            finish(false, QStringLiteral("could not %1").arg(step.what));
            return;
        }
        m_timer->start(pollMs);
        return;
    }
    m_waitedMs = 0;
    if (!m_acted) {
        m_acted = true;
        step.act();
        if (m_finished)  // the window went away inside a dialog
            return;
        m_timer->start(0);
        return;
    }
    m_acted = false;
    ++m_next;
    m_timer->start(m_pauseMs);
}

void DemoAutopilot::finish(bool ok, const QString &message)
{
    m_finished = true;
    m_succeeded = ok;
    m_timer->stop();
    emit finished(ok, message);
}

// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/remotestationwindow.h"

#include "links/showntext.h"
#include "remote/remoteclient.h"
#include "station/dopplermethod.h"
#include "ui/spinboxrefusal.h"
#include "ui_RemoteStationWindow.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDateTime>
#include <QDoubleValidator>
#include <QJsonArray>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>

#include <algorithm>
#include <cmath>

namespace {

// The state is the station's word, but a field of the wrong type must not
// turn into a plausible number: it shows as missing.
QJsonValue at(const QJsonObject &state, const QString &path)
{
    QJsonValue value = state;
    for (const QString &key : path.split(QLatin1Char('.')))
        value = value.toObject().value(key);
    return value;
}

QString degrees(const QJsonValue &value)
{
    return value.isDouble() ? QString::number(value.toDouble(), 'f', 2) : QStringLiteral("---");
}

QString mhz(const QJsonValue &hz)
{
    return hz.isDouble() ? QString::number(hz.toDouble() / 1e6, 'f', 6) : QStringLiteral("---");
}

const char *targetName(const QString &key)
{
    if (key == QLatin1String("moon"))
        return "Moon";
    if (key == QLatin1String("sun"))
        return "Sun";
    if (key == QLatin1String("source"))
        return "Source";
    return "";
}

QString portName(const char *port)
{
    return QString::fromLatin1(port);
}

// The API's key behind each entry of a list the form fills in this order.
const char *const shiftKeys[] = {"home", "dx"};
const char *const calibrationTargetKeys[] = {"sun", "moon", "source"};
const char *const calibrationKindKeys[] = {"crossScan", "sunNoise"};

template<std::size_t n>
void keyItems(QComboBox *combo, const char *const (&keys)[n])
{
    for (std::size_t i = 0; i < n && int(i) < combo->count(); ++i)
        combo->setItemData(int(i), QString::fromLatin1(keys[i]));
}

QString key(const QComboBox *combo)
{
    return combo->currentData().toString();
}

void showKey(QComboBox *combo, const QString &key)
{
    if (const int index = combo->findData(key); index >= 0)
        combo->setCurrentIndex(index);
}

QValidator *parkValidator(double bottom, double top, QObject *parent)
{
    auto *validator = new QDoubleValidator(bottom, top, 2, parent);
    validator->setNotation(QDoubleValidator::StandardNotation);
    validator->setLocale(QLocale::c());
    return validator;
}

// "12:31:05 UTC" from the station's ISO time; empty when it is none.
QString clock(const QJsonValue &time)
{
    const QDateTime at = QDateTime::fromString(time.toString(), Qt::ISODateWithMs);
    return at.isValid() ? at.toUTC().toString(QStringLiteral("HH:mm:ss 'UTC'")) : QString();
}

} // namespace

RemoteStationWindow::RemoteStationWindow(RemoteClient &client, QWidget *parent)
    : QMainWindow(parent)
    , m_client(client)
    , m_ui(new Ui::RemoteStationWindowClass)
{
    m_ui->setupUi(this);
    sayRefusedKeys(this);
    for (const char *port : {"A", "B"}) {
        const QString p = portName(port);
        auto *open = findChild<QPushButton *>(QStringLiteral("buttonOpen") + p);
        auto *close = findChild<QPushButton *>(QStringLiteral("buttonClose") + p);
        auto *automatic = findChild<QCheckBox *>(QStringLiteral("checkAuto") + p);
        auto *device = findChild<QComboBox *>(QStringLiteral("comboDevice") + p);
        device->installEventFilter(this);
        connect(open, &QPushButton::clicked, this, [this, p, device] {
            QJsonObject fields {{QStringLiteral("port"), p}};
            // The first entry leaves the device to the station (remote.cfg).
            if (device->currentIndex() > 0)
                fields.insert(QStringLiteral("device"), device->currentText());
            command(QStringLiteral("open"), fields);
        });
        connect(close, &QPushButton::clicked, this,
                [this, p] { command(QStringLiteral("close"), {{QStringLiteral("port"), p}}); });
        connect(automatic, &QCheckBox::clicked, this, [this, p](bool on) {
            command(QStringLiteral("auto"), {{QStringLiteral("port"), p}, {QStringLiteral("on"), on}});
        });
    }
    connect(m_ui->buttonMoon, &QPushButton::clicked, this,
            [this] { command(QStringLiteral("target"), {{QStringLiteral("target"), QStringLiteral("moon")}}); });
    connect(m_ui->buttonSun, &QPushButton::clicked, this,
            [this] { command(QStringLiteral("target"), {{QStringLiteral("target"), QStringLiteral("sun")}}); });
    connect(m_ui->buttonSource, &QPushButton::clicked, this,
            [this] { command(QStringLiteral("target"), {{QStringLiteral("target"), QStringLiteral("source")}}); });
    connect(m_ui->checkTracking, &QCheckBox::clicked, this,
            [this](bool on) { command(QStringLiteral("tracking"), {{QStringLiteral("on"), on}}); });
    connect(m_ui->checkTrackFrequency, &QCheckBox::clicked, this,
            [this](bool on) { command(QStringLiteral("frequencyTracking"), {{QStringLiteral("on"), on}}); });
    // An empty field keeps the station's parking place on that axis, as on the page.
    m_ui->lineParkAz->setValidator(parkValidator(-180, 540, m_ui->lineParkAz));
    m_ui->lineParkEl->setValidator(parkValidator(-90, 180, m_ui->lineParkEl));
    connect(m_ui->buttonPark, &QPushButton::clicked, this, [this] {
        QJsonObject fields;
        const struct {
            const char *key, *name;
            QLineEdit *field;
        } axes[] = {{"az", "azimuth", m_ui->lineParkAz}, {"el", "elevation", m_ui->lineParkEl}};
        for (const auto &axis : axes) {
            if (axis.field->text().isEmpty())
                continue;
            if (!axis.field->hasAcceptableInput()) {
                const auto *range = static_cast<const QDoubleValidator *>(axis.field->validator());
                m_ui->labelRefused->setText(QStringLiteral("park not sent: %1 %2 is not from %3 to %4")
                                                .arg(QLatin1String(axis.name), axis.field->text())
                                                .arg(range->bottom())
                                                .arg(range->top()));
                return;
            }
            fields.insert(QLatin1String(axis.key), QLocale::c().toDouble(axis.field->text()));
        }
        command(QStringLiteral("park"), fields);
    });
    connect(m_ui->buttonOffsets, &QPushButton::clicked, this, [this] {
        command(QStringLiteral("offsets"), {{QStringLiteral("az"), m_ui->spinOffsetAz->value()},
                                           {QStringLiteral("el"), m_ui->spinOffsetEl->value()}});
    });
    connect(m_ui->buttonTune, &QPushButton::clicked, this,
            [this] { command(QStringLiteral("tune"), {{QStringLiteral("mhz"), m_ui->spinTuneMHz->value()}}); });

    for (const auto &name : dopplerMethodNames)
        m_ui->comboMethod->addItem(QString::fromLatin1(name.shown), QString::fromLatin1(name.key));
    keyItems(m_ui->comboShift, shiftKeys);
    keyItems(m_ui->comboCalibrationTarget, calibrationTargetKeys);
    keyItems(m_ui->comboCalibrationKind, calibrationKindKeys);
    // activated: the operator's pick only, not the state shown.
    connect(m_ui->comboMethod, &QComboBox::activated, this,
            [this] { command(QStringLiteral("dopplerMethod"), {{QStringLiteral("method"), key(m_ui->comboMethod)}}); });
    connect(m_ui->buttonSked, &QPushButton::clicked, this, [this] {
        command(QStringLiteral("dopplerMethod"), {{QStringLiteral("method"), key(m_ui->comboMethod)},
                                                  {QStringLiteral("skedMHz"), m_ui->spinSkedMHz->value()}});
    });
    connect(m_ui->comboShift, &QComboBox::activated, this,
            [this] { command(QStringLiteral("shift"), {{QStringLiteral("shift"), key(m_ui->comboShift)}}); });
    connect(m_ui->checkFollowWsjtx, &QCheckBox::clicked, this,
            [this](bool on) { command(QStringLiteral("followWsjtx"), {{QStringLiteral("on"), on}}); });
    connect(m_ui->buttonCalibrationStart, &QPushButton::clicked, this, &RemoteStationWindow::startCalibration);
    connect(m_ui->buttonCalibrationStop, &QPushButton::clicked, this,
            [this] { command(QStringLiteral("calibrationStop")); });
    connect(m_ui->buttonCalibrationApply, &QPushButton::clicked, this, &RemoteStationWindow::askToApply);
    m_ui->groupCalibration->hide();  // until a station says it has calibrations

    connect(&client, &RemoteClient::connectionChanged, this, &RemoteStationWindow::showConnection);
    connect(&client, &RemoteClient::stateChanged, this, &RemoteStationWindow::showState);
    connect(&client, &RemoteClient::logLine, m_ui->plainTextLog, &QPlainTextEdit::appendPlainText);
    connect(&client, &RemoteClient::commandRefused, this, [this](const QString &name, const QString &error) {
        m_ui->labelRefused->setText(QStringLiteral("%1 refused: %2").arg(name, error));
    });
    for (const QString &line : client.log())
        m_ui->plainTextLog->appendPlainText(line);
    showConnection();
    if (!client.state().isEmpty())
        showState();
}

RemoteStationWindow::~RemoteStationWindow() = default;

void RemoteStationWindow::command(const QString &name, const QJsonObject &fields)
{
    m_ui->labelRefused->clear();
    if (!m_client.send(name, fields))
        m_ui->labelRefused->setText(QStringLiteral("%1 not sent: not connected").arg(name));
}

// A device list the operator goes to is listed again at the station, as the
// page asks when its list takes the focus; nothing is said of the answer.
bool RemoteStationWindow::eventFilter(QObject *watched, QEvent *event)
{
    if ((watched == m_ui->comboDeviceA || watched == m_ui->comboDeviceB) && event->type() == QEvent::FocusIn)
        m_client.send(QStringLiteral("enumerate"));
    return QMainWindow::eventFilter(watched, event);
}

void RemoteStationWindow::startCalibration()
{
    command(QStringLiteral("calibrate"), {{QStringLiteral("target"), key(m_ui->comboCalibrationTarget)},
                                          {QStringLiteral("kind"), key(m_ui->comboCalibrationKind)},
                                          {QStringLiteral("source"), m_ui->comboCalibrationSource->currentText()},
                                          {QStringLiteral("beamwidth"), m_ui->spinCalibrationBeamwidth->value()},
                                          {QStringLiteral("systemKelvin"), m_ui->spinCalibrationKelvin->value()},
                                          {QStringLiteral("flux"), m_ui->spinCalibrationFlux->value()}});
}

// As the station's own window does: the offsets change only once the operator says so.
void RemoteStationWindow::askToApply()
{
    const QJsonValue found = at(m_client.state(), QStringLiteral("calibration.found"));
    if (!found.isObject())
        return;
    const auto signedDegrees = [&](const char *axis) {
        const double value = found.toObject().value(QLatin1String(axis)).toDouble();
        return QStringLiteral("%1%2°").arg(value < 0 ? QStringLiteral("−") : QStringLiteral("+"))
            .arg(std::abs(value), 0, 'f', 2);
    };
    auto *question = new QMessageBox(
        QMessageBox::Question, QStringLiteral("Apply the offsets"),
        QStringLiteral("Add %1 to the azimuth offset and %2 to the elevation offset? They are kept in store.cfg.")
            .arg(signedDegrees("az"), signedDegrees("el")),
        QMessageBox::Yes | QMessageBox::No, this);
    question->setObjectName(QStringLiteral("messageApply"));
    question->setAttribute(Qt::WA_DeleteOnClose);
    connect(question, &QMessageBox::finished, this, [this](int answer) {
        if (answer == QMessageBox::Yes)
            command(QStringLiteral("calibrationApply"));
    });
    question->open();
}

void RemoteStationWindow::showConnection()
{
    const QUrl url = m_client.url();
    const QString station = url.port() < 0 ? url.host() : QStringLiteral("%1:%2").arg(url.host()).arg(url.port());
    QString title = QStringLiteral("Vestrel – attached to %1").arg(station);
    QString text;
    switch (m_client.status()) {
    case RemoteClient::Status::Idle:
    case RemoteClient::Status::Connecting:
        title += QStringLiteral(" (connecting)");
        text = QStringLiteral("Connecting to %1").arg(url.toDisplayString());
        break;
    case RemoteClient::Status::Connected:
        text = QStringLiteral("Connected to %1").arg(url.toDisplayString());
        break;
    case RemoteClient::Status::Silent:
        title += QStringLiteral(" (no word from the station)");
        text = QStringLiteral("Connected to %1, but %2").arg(url.toDisplayString(), m_client.problem());
        break;
    case RemoteClient::Status::Lost:
        title += QStringLiteral(" (connection lost, retrying)");
        text = QStringLiteral("Connection lost, retrying: %1").arg(m_client.problem());
        break;
    case RemoteClient::Status::Refused:
        title += QStringLiteral(" (not connected)");
        text = QStringLiteral("Not connected: %1").arg(m_client.problem());
        break;
    }
    const bool connected = m_client.isConnected();
    // The readouts stay, greyed, as the station was when last heard.
    if (const QString when = clock(m_client.state().value(QLatin1String("time"))); !connected && !when.isEmpty())
        text += QStringLiteral("; shown as the station was at %1").arg(when);
    setWindowTitle(title);
    m_ui->labelConnection->setText(text);
    for (QWidget *part : std::initializer_list<QWidget *> {m_ui->groupPortA, m_ui->groupPortB, m_ui->groupRadio,
                                                           m_ui->groupControls, m_ui->groupCalibration,
                                                           m_ui->groupStation, m_ui->skyPlot})
        part->setEnabled(connected);
}

void RemoteStationWindow::showState()
{
    const QJsonObject &state = m_client.state();
    const QString target = QString::fromLatin1(targetName(at(state, QStringLiteral("target")).toString()));
    const QJsonValue record = state.value(QLatin1String("record"));
    if (record.isObject())
        m_ui->labelTarget->setText(QStringLiteral("%1: az %2, el %3, Doppler own echo %4 Hz, DX %5 Hz")
                                       .arg(target, degrees(at(state, QStringLiteral("record.az"))),
                                            degrees(at(state, QStringLiteral("record.el"))))
                                       .arg(at(state, QStringLiteral("record.dopplerHome")).toDouble(), 0, 'f', 0)
                                       .arg(at(state, QStringLiteral("record.dopplerDx")).toDouble(), 0, 'f', 0));
    else
        m_ui->labelTarget->setText(QStringLiteral("%1: no tracking data yet").arg(target));
    m_ui->labelCommanded->setText(QStringLiteral("Commanded: az %1, el %2%3")
                                      .arg(degrees(at(state, QStringLiteral("commanded.az"))),
                                           degrees(at(state, QStringLiteral("commanded.el"))),
                                           state.value(QLatin1String("external")).isObject()
                                               ? QStringLiteral(", aimed by a rotctl client")
                                               : QString()));
    const QJsonValue actualAz = at(state, QStringLiteral("actual.az"));
    const QJsonValue actualEl = at(state, QStringLiteral("actual.el"));
    m_ui->labelActual->setText(actualAz.isDouble() && actualEl.isDouble()
                                   ? QStringLiteral("Antenna: az %1, el %2").arg(degrees(actualAz), degrees(actualEl))
                                   : QStringLiteral("Antenna: position not reported"));
    m_ui->labelOffsets->setText(QStringLiteral("Offsets: az %1, el %2; parking az %3, el %4%5")
                                    .arg(degrees(at(state, QStringLiteral("offsets.az"))),
                                         degrees(at(state, QStringLiteral("offsets.el"))),
                                         degrees(at(state, QStringLiteral("parking.az"))),
                                         degrees(at(state, QStringLiteral("parking.el"))),
                                         at(state, QStringLiteral("parking.active")).toBool()
                                             ? QStringLiteral(", parking")
                                             : QString()));
    QStringList alarms;
    for (const QJsonValue &alarm : state.value(QLatin1String("alarms")).toArray())
        alarms << shownText(alarm.toObject().value(QLatin1String("why")).toString().toUtf8());
    m_ui->labelAlarms->setText(alarms.isEmpty() ? QStringLiteral("No alarm")
                                                : QStringLiteral("Alarm: %1").arg(alarms.join(QStringLiteral("; "))));
    // Empty when WSJT-X is not followed, or from a station that does not say.
    m_ui->labelWsjtx->setText(shownText(at(state, QStringLiteral("wsjtx.line")).toString().toUtf8()));
    m_ui->checkTracking->setChecked(at(state, QStringLiteral("tracking")).toBool());
    m_ui->buttonMoon->setChecked(target == QLatin1String("Moon"));
    m_ui->buttonSun->setChecked(target == QLatin1String("Sun"));
    m_ui->buttonSource->setChecked(target == QLatin1String("Source"));
    m_ui->checkFollowWsjtx->setChecked(at(state, QStringLiteral("wsjtx.follow")).toBool());
    // The fields take the station's values when those change, not on every
    // push, so that what the operator is typing stays until sent.
    m_ui->lineParkAz->setPlaceholderText(degrees(at(state, QStringLiteral("parking.az"))));
    m_ui->lineParkEl->setPlaceholderText(degrees(at(state, QStringLiteral("parking.el"))));
    const QJsonValue offsets = state.value(QLatin1String("offsets"));
    if (offsets != m_shownOffsets) {
        m_shownOffsets = offsets;
        m_ui->spinOffsetAz->setValue(at(state, QStringLiteral("offsets.az")).toDouble());
        m_ui->spinOffsetEl->setValue(at(state, QStringLiteral("offsets.el")).toDouble());
    }

    m_ui->skyPlot->setTarget(record.isObject() ? target : QString(), at(state, QStringLiteral("record.az")).toDouble(),
                             at(state, QStringLiteral("record.el")).toDouble());
    // What the station does not know is not drawn (at north on the horizon).
    const auto direction = [](const QJsonValue &az, const QJsonValue &el) {
        return az.isDouble() && el.isDouble() ? std::optional(Direction {az.toDouble(), el.toDouble()}) : std::nullopt;
    };
    const auto commanded
        = direction(at(state, QStringLiteral("commanded.az")), at(state, QStringLiteral("commanded.el")));
    const auto actual = direction(actualAz, actualEl);
    m_ui->skyPlot->setAntenna(actual ? actual : commanded, commanded);
    showPort("A");
    showPort("B");
    showRadio();
    showCalibration();
}

void RemoteStationWindow::showPort(const char *port)
{
    const QJsonObject &state = m_client.state();
    const QString p = portName(port);
    const QJsonObject record = at(state, QStringLiteral("ports.") + p).toObject();
    const auto flag = [&](const char *key) { return record.value(QLatin1String(key)).toBool(); };
    const QString device = shownText(record.value(QLatin1String("device")).toString().toUtf8());
    QString text = QStringLiteral("Port %1: ").arg(p);
    text += flag("open")           ? QStringLiteral("open on %1").arg(device)
            : flag("connecting")   ? QStringLiteral("connecting to %1").arg(device)
            : flag("reconnecting") ? QStringLiteral("waiting for %1 to come back").arg(device)
                                   : QStringLiteral("closed");
    text += flag("auto") ? QStringLiteral(", Auto") : QStringLiteral(", Manual");
    if (flag("network"))
        text += QStringLiteral(", through the network daemon");
    const QString hamlib = shownText(record.value(QLatin1String("hamlib")).toString().toUtf8());
    if (!hamlib.isEmpty())
        text += QStringLiteral(", Hamlib's %1").arg(hamlib);
    const QString trouble = shownText(record.value(QLatin1String("trouble")).toString().toUtf8());
    if (!trouble.isEmpty())
        text += QStringLiteral(", %1").arg(trouble);
    findChild<QLabel *>(QStringLiteral("labelPort") + p)->setText(text);
    findChild<QCheckBox *>(QStringLiteral("checkAuto") + p)->setChecked(flag("auto"));

    // The station's own choice first, then what it lists; the pick survives a refresh.
    auto *combo = findChild<QComboBox *>(QStringLiteral("comboDevice") + p);
    QStringList items {QStringLiteral("(as the station has it)")};
    for (const QJsonValue &name : state.value(QLatin1String("available")).toArray())
        items << shownText(name.toString().toUtf8());
    QStringList present;
    for (int i = 0; i < combo->count(); ++i)
        present << combo->itemText(i);
    if (present != items) {
        const QString chosen = combo->currentText();
        combo->clear();
        combo->addItems(items);
        combo->setCurrentIndex(std::max(0, int(items.indexOf(chosen))));
    }
}

void RemoteStationWindow::showRadio()
{
    const QJsonObject &state = m_client.state();
    const QJsonObject radio = state.value(QLatin1String("radio")).toObject();
    const QJsonValue readout = radio.value(QLatin1String("mhz"));
    m_ui->labelRadio->setText(
        readout.isDouble() ? QStringLiteral("Radio %1 %2 MHz")
                                 .arg(radio.value(QLatin1String("transmitting")).toBool() ? QLatin1Char('T')
                                                                                          : QLatin1Char('R'))
                                 .arg(readout.toDouble(), 0, 'f', 5)
                           : QStringLiteral("Radio: ---"));
    const QString method = shownText(radio.value(QLatin1String("method")).toString().toUtf8(), 40);
    m_ui->labelMethod->setText(QStringLiteral("Doppler method: %1, sked %2 MHz, %3 shift%4")
                                   .arg(method)
                                   .arg(radio.value(QLatin1String("skedMHz")).toDouble(), 0, 'f', 6)
                                   .arg(radio.value(QLatin1String("shift")).toString() == QLatin1String("dx")
                                            ? QStringLiteral("DX")
                                            : QStringLiteral("home"))
                                   .arg(radio.value(QLatin1String("ptt")).toBool() ? QStringLiteral(", PTT")
                                                                                   : QString()));
    const QJsonValue receive = radio.value(QLatin1String("receiveHz"));
    m_ui->labelMethodFrequencies->setText(
        receive.isDouble() ? QStringLiteral("Receive %1 MHz, transmit %2 MHz%3")
                                 .arg(mhz(receive), mhz(radio.value(QLatin1String("transmitHz"))),
                                      radio.value(QLatin1String("split")).toBool() ? QStringLiteral(", split")
                                                                                  : QString())
                           : QStringLiteral("Receive and transmit: when Track frequency is ticked"));
    // The working frequency, or before there is one the sked frequency.
    const double working = radio.value(QLatin1String("workingMHz")).toDouble();
    const QJsonValue tune = working > 0 ? QJsonValue(working) : radio.value(QLatin1String("skedMHz"));
    if (tune != m_shownTuneMHz) {
        m_shownTuneMHz = tune;
        if (tune.toDouble() > 0)
            m_ui->spinTuneMHz->setValue(tune.toDouble());
    }
    m_ui->checkTrackFrequency->setChecked(radio.value(QLatin1String("frequencyTracking")).toBool());
    m_ui->checkTrackFrequency->setEnabled(radio.value(QLatin1String("known")).toBool());
    showKey(m_ui->comboMethod, radio.value(QLatin1String("method")).toString());
    // The station takes no new method while it follows the radio with one.
    m_ui->comboMethod->setEnabled(!radio.value(QLatin1String("dopplerRunning")).toBool());
    showKey(m_ui->comboShift, radio.value(QLatin1String("shift")).toString());
    const QJsonValue sked = radio.value(QLatin1String("skedMHz"));
    if (sked != m_shownSkedMHz) {
        m_shownSkedMHz = sked;
        if (sked.toDouble() > 0)
            m_ui->spinSkedMHz->setValue(sked.toDouble());
    }
}

void RemoteStationWindow::showCalibration()
{
    // Stations without calibrations, and older ones, send none.
    const QJsonValue value = m_client.state().value(QLatin1String("calibration"));
    m_ui->groupCalibration->setVisible(value.isObject());
    if (!value.isObject())
        return;
    const QJsonObject calibration = value.toObject();
    const auto text = [&](const char *key, qsizetype maxChars = 200) {
        return shownText(calibration.value(QLatin1String(key)).toString().toUtf8(), maxChars);
    };
    QStringList sources;
    for (const QJsonValue &name : calibration.value(QLatin1String("sources")).toArray())
        sources << shownText(name.toString().toUtf8());
    auto *combo = m_ui->comboCalibrationSource;
    QStringList present;
    for (int i = 0; i < combo->count(); ++i)
        present << combo->itemText(i);
    if (present != sources) {
        const QString chosen = combo->currentText();
        combo->clear();
        combo->addItems(sources);
        combo->setCurrentIndex(std::max(0, int(sources.indexOf(chosen))));
    }
    const bool running = calibration.value(QLatin1String("running")).toBool();
    m_ui->buttonCalibrationStart->setEnabled(!running && !sources.isEmpty());
    m_ui->buttonCalibrationStop->setEnabled(running);
    m_ui->buttonCalibrationApply->setEnabled(calibration.value(QLatin1String("canApply")).toBool());
    const double progress = calibration.value(QLatin1String("progress")).toDouble();
    m_ui->progressCalibration->setValue(qRound(1000 * std::clamp(progress, 0.0, 1.0)));
    m_ui->labelCalibrationStatus->setText(sources.isEmpty() ? QStringLiteral("No level source: a sound card with the "
                                                                             "receiver's audio, or port B on a radio "
                                                                             "through Hamlib")
                                                            : text("status"));
    m_ui->labelCalibrationResult->setText(text("result", 500));
    const QJsonValue mhz = at(calibration, QStringLiteral("frequency.mhz"));
    m_ui->labelCalibrationFrequency->setText(
        mhz.isDouble() ? QStringLiteral("The Y expected at %1 MHz, %2")
                             .arg(mhz.toDouble(), 0, 'f', 3)
                             .arg(shownText(at(calibration, QStringLiteral("frequency.from")).toString().toUtf8()))
                       : QString());
    QStringList history;
    for (const QJsonValue &line : calibration.value(QLatin1String("history")).toArray())
        history << shownText(line.toString().toUtf8(), 500);
    QStringList listed;
    for (int i = 0; i < m_ui->listCalibrationHistory->count(); ++i)
        listed << m_ui->listCalibrationHistory->item(i)->text();
    if (listed != history) {
        m_ui->listCalibrationHistory->clear();
        m_ui->listCalibrationHistory->addItems(history);
    }
    // The cut under way (even cuts across in azimuth, odd in elevation), as the station's own dialog draws it.
    const QJsonValue points = calibration.value(QLatin1String("points"));
    if (points == m_plottedPoints)
        return;
    m_plottedPoints = points;
    const QJsonArray all = points.toArray();
    const int cut = all.isEmpty() ? -1 : all.last().toArray().at(0).toInt();
    if (cut < 0) {
        m_ui->calibrationPlot->clear();
        return;
    }
    m_ui->calibrationPlot->newCut(cut % 2 == 0 ? QStringLiteral("azimuth") : QStringLiteral("elevation"));
    for (const QJsonValue &point : all) {
        const QJsonArray p = point.toArray();
        if (p.size() == 3 && p.at(0).toInt() == cut && p.at(1).isDouble() && p.at(2).isDouble())
            m_ui->calibrationPlot->add(p.at(1).toDouble(), p.at(2).toDouble());
    }
}

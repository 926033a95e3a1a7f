// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/remotestationwindow.h"

#include "links/showntext.h"
#include "remote/remoteclient.h"
#include "ui/spinboxrefusal.h"
#include "ui_RemoteStationWindow.h"

#include <QCheckBox>
#include <QComboBox>
#include <QJsonArray>
#include <QLabel>
#include <QPushButton>

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
    connect(m_ui->checkTracking, &QCheckBox::clicked, this,
            [this](bool on) { command(QStringLiteral("tracking"), {{QStringLiteral("on"), on}}); });
    connect(m_ui->checkTrackFrequency, &QCheckBox::clicked, this,
            [this](bool on) { command(QStringLiteral("frequencyTracking"), {{QStringLiteral("on"), on}}); });
    connect(m_ui->buttonPark, &QPushButton::clicked, this, [this] { command(QStringLiteral("park")); });
    connect(m_ui->buttonOffsets, &QPushButton::clicked, this, [this] {
        command(QStringLiteral("offsets"), {{QStringLiteral("az"), m_ui->spinOffsetAz->value()},
                                           {QStringLiteral("el"), m_ui->spinOffsetEl->value()}});
    });
    connect(m_ui->buttonTune, &QPushButton::clicked, this,
            [this] { command(QStringLiteral("tune"), {{QStringLiteral("mhz"), m_ui->spinTuneMHz->value()}}); });

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
    case RemoteClient::Status::Lost:
        title += QStringLiteral(" (connection lost, retrying)");
        text = QStringLiteral("Connection lost, retrying: %1").arg(m_client.problem());
        break;
    case RemoteClient::Status::Refused:
        title += QStringLiteral(" (not connected)");
        text = QStringLiteral("Not connected: %1").arg(m_client.problem());
        break;
    }
    setWindowTitle(title);
    m_ui->labelConnection->setText(text);
    const bool connected = m_client.isConnected();
    for (QWidget *group : {static_cast<QWidget *>(m_ui->groupPortA), static_cast<QWidget *>(m_ui->groupPortB),
                           static_cast<QWidget *>(m_ui->groupRadio), static_cast<QWidget *>(m_ui->groupControls)})
        group->setEnabled(connected);
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
    // The fields take the station's values when those change, not on every
    // push, so that what the operator is typing stays until sent.
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
}

void RemoteStationWindow::showPort(const char *port)
{
    const QJsonObject &state = m_client.state();
    const QString p = portName(port);
    const QJsonObject record = at(state, QStringLiteral("ports.") + p).toObject();
    const auto flag = [&](const char *key) { return record.value(QLatin1String(key)).toBool(); };
    const QString device = shownText(record.value(QLatin1String("device")).toString().toUtf8());
    QString text = flag("open")           ? QStringLiteral("open on %1").arg(device)
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
}

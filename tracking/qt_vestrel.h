// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "station/trackingcontrol.h"

#include <QByteArray>
#include <QDialog>
#include <QMainWindow>
#include <QPointer>
#include <QString>
#include <QStringList>

#include <memory>

class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;
class ParkingDialog;
class StationPanel;
class logDialog;
class roundingDialog;
class serialSettingsDialog;
class timerSettingdialog;

namespace Ui {
class Qt_VestrelClass;
}

class Qt_Vestrel;

// The window's view of one port: its widgets, the dialog's live parameter
// record for it, and which port of the station it shows.
struct SerialPortRecord {
    StationPort port = StationPort::A;
    bool network = false;         // the type list shows a Hamlib daemon
    bool linked = false;          // the type list shows Hamlib linked in
    QComboBox *typeCombo = nullptr;  // where that choice is made
    QString serialName;           // the port chosen while the address is shown instead
    QComboBox *nameCombo = nullptr;
    QLabel *statusLabel = nullptr;
    QLineEdit *sendLine = nullptr;
    QPushButton *openButton = nullptr;
    QPushButton *sendButton = nullptr;
    SerialParameters *parameters = nullptr;
    QRadioButton *manualRadio = nullptr;
    QRadioButton *autoRadio = nullptr;
    QPointer<QDialog> modelChooser;  // Hamlib's model list while it is open
};

class Qt_Vestrel : public QMainWindow
{
    Q_OBJECT

public:
    explicit Qt_Vestrel(QWidget *parent = nullptr);
    ~Qt_Vestrel() override;

    // Menu entries; attached to the actions' triggered() signal.
    void on_actionSerial_port_activated();
    void on_actionOpen_data_file_activated();
    void on_actionTimer_activated();
    void on_actionOffsets_activated();
    void on_actionShow_log_activated();
    void on_actionPark_rotator_activated();

    // Read-only views of the tracking state, for tests and diagnostics.
    QByteArray pendingCommand() const { return m_station->steering().pending; }
    bool isTrackingActive() const { return m_station->isTrackingActive(); }
    bool isDebugMode() const { return m_station->isDebugMode(); }
    bool isParkingActive() const { return m_station->steering().parkingActive(); }
    quint16 staleCount() const { return m_station->steering().staleCount(); }
    double workingFrequency() const { return m_station->doppler().workingMHz(); }
    TrackingControl &station() { return *m_station; }

public slots:
    void timerTimeout();
    void on_comboSerialNameA_activated(int index);
    void on_comboSerialNameB_activated(int index);
    void on_buttonOpenSerialA_clicked();
    void on_buttonOpenSerialB_clicked();
    void on_buttonSerialSendA_clicked();
    void on_buttonSerialSendB_clicked();
    void rotatorReceived(const QByteArray &bytes);
    void timerSettingConfirmed();
    void on_lineElevationOffset_editingFinished();
    void on_lineAzimutOffset_editingFinished();
    void on_lineSerialSendA_returnPressed();
    void on_lineSerialSendB_returnPressed();
    void on_radioSerialAManual_toggled(bool checked);
    void on_radioSerialBManual_toggled(bool checked);
    void freqReadTimeout();
    void on_checkDoppler_stateChanged(int state);
    void roundingSettingsConfirmed();
    void on_actionDopDefault_triggered(bool checked);
    void on_actionDopSource_triggered(bool checked);
    void on_check_PTT_stateChanged(int state);
    void on_actionRotSun_triggered(bool checked);
    void on_actionRotMoon_triggered(bool checked);
    void on_actionRotSource_triggered(bool checked);
    void on_lineTransceiverFrequency_returnPressed();
    void parkingDialogConfirmed();
    void parkingDialogClosed();
    void frequencyReceiveSlot(qreal frequency);
    void statusReceivedSlot(bool transmitStatus);
    void transceiverEexecutionMessageSlot(QString message);
    void transceiverDebugMessageSlot(QString message);

private:

    void enumeratePorts();
    void chooseTarget(QAction *chosen, TrackingTarget target, bool checked);
    void openClicked(SerialPortRecord &record);
    void showTransport(SerialPortRecord &record);
    void transportChosen(SerialPortRecord &record);
    // The model Hamlib drives, from its list, kept in network.cfg.
    void chooseHamlibModel(SerialPortRecord &record);
    void saveNetworkSettings();
    void showStation();
    // The ports, target and "Track frequency" kept in network.cfg as they
    // change, and taken up again at the next start.
    void rememberSession();
    void resumeSession();
    void showPort(SerialPortRecord &record);
    void showDoppler();
    // The offsets in force in their fields, to the hundredth of a degree.
    void showOffsets();
    void showDataFile(const QString &path);

    QStringList portList;
    SerialPortRecord portA;
    SerialPortRecord portB;
    TrackingControl *m_station = nullptr;
    StationPanel *m_panel = nullptr;
    QLabel *m_firstStart = nullptr;  // what to do next, until the first port opens
    serialSettingsDialog *serialSettings = nullptr;
    timerSettingdialog *timerSettings = nullptr;
    roundingDialog *roundingSettings = nullptr;
    logDialog *logWindow = nullptr;
    ParkingDialog *parkingSettings = nullptr;
    std::unique_ptr<Ui::Qt_VestrelClass> ui;
    // What the fields showed at the last look, so that only changes touch them.
    bool m_shownDopplerRunning = false;
    bool m_shownTracking = false;
    bool m_sessionKept = false;  // from the first resume on; not while the window closes
    QString m_dataFile;  // the tracking data file chosen, kept for the next start
};

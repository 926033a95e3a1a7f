#pragma once

#include "links/rotatorlink.h"
#include "serial/serialtypes.h"
#include "settings/networksettings.h"
#include "tracking/trackingdata.h"

#include <QByteArray>
#include <QMainWindow>
#include <QString>
#include <QStringList>

#include <memory>

class QComboBox;
class QFile;
class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;
class QTimer;
class DeviceLink;
class FileLog;
class ParkingDialog;
class RotatorLink;
class SettingsFile;
class TransceiverLink;
class logDialog;
class roundingDialog;
class serialSettingsDialog;
class timerSettingdialog;

namespace Ui {
class Qt_VestrelClass;
}

class Qt_Vestrel;

// The window's view of one port: the link to its device while open (a serial
// line or a Hamlib daemon), its widgets, and the dialog's live parameter
// record for it.
struct SerialPortRecord {
    QString name;
    bool open = false;
    DeviceLink *link = nullptr;   // from a successful open (or the start of a connection) to the close
    bool connecting = false;      // a daemon link is being connected
    bool network = false;         // the device is reached through a Hamlib daemon
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
    QByteArray pendingCommand() const { return pendingRotatorCommand; }
    bool isTrackingActive() const { return trackingActive; }
    bool isDebugMode() const { return debugMode; }
    bool isParkingActive() const { return parkingActive; }
    quint16 staleCount() const { return staleCommandCount; }
    double workingFrequency() const { return baseFrequency; }

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
    void logMessage(const QString &text);
    void logDebug(const QString &text);
    void record(const QString &text);

    void enumeratePorts();
    void chooseTarget(QAction *chosen, bool checked);
    bool readTrackingData(TrackingRecord &record);
    void runTrackingCycle();
    void dopplerStep(const TrackingRecord &record);
    void setTrackingActive(bool on);
    void resetLastValues();
    void sendOnPort(SerialPortRecord &record, const QByteArray &bytes);
    void sendFrequency(double hz, const QString &refusal);

    bool openSerialPort(SerialPortRecord &record, const QString &portName);
    void closeSerialPort(SerialPortRecord &record);
    void portLost(SerialPortRecord &record);
    bool portOpened(SerialPortRecord &record, const QString &portName);
    void afterOpen(SerialPortRecord &record);
    void wireLink(SerialPortRecord &record);
    void connectDaemon(SerialPortRecord &record, const QString &addressText);
    void endConnecting(SerialPortRecord &record);
    void dropLink(SerialPortRecord &record);
    void showTransport(SerialPortRecord &record);
    void transportChosen(SerialPortRecord &record);
    void saveNetworkSettings();
    void showAntennaPosition(double azimuth, double elevation);
    QByteArray rotatorCommand(RotatorAxis axis, double azimuth, double elevation);
    void startDoppler();
    void stopDoppler();

    bool trackingActive = false;
    QTimer *repetitionTimer = nullptr;
    QTimer *readoutTimer = nullptr;
    QStringList portList;
    SerialPortRecord portA;
    SerialPortRecord portB;
    serialSettingsDialog *serialSettings = nullptr;
    QFile *dataFile = nullptr;
    timerSettingdialog *timerSettings = nullptr;
    std::unique_ptr<SettingsFile> settingsFile;
    double azimuthOffset = 0.0;
    double elevationOffset = 0.0;
    double lastElevation = -1.0;
    double lastAzimuth = -1.0;
    // After an acknowledged azimuth command the elevation goes next when it
    // has moved too.
    bool azimuthAwaitingAnswer = false;
    bool elevationNext = false;
    double lastDopplerHome = 0.0;
    double lastDopplerDx = 0.0;
    QByteArray pendingRotatorCommand;
    double baseFrequency = 0.0;
    roundingDialog *roundingSettings = nullptr;
    logDialog *logWindow = nullptr;
    ParkingDialog *parkingSettings = nullptr;
    bool debugMode = false;
    bool transmitting = false;
    TransceiverLink *transceiverLink = nullptr;
    RotatorLink *rotatorLink = nullptr;
    QTimer *positionTimer = nullptr;
    NetworkSettings networkSettings;
    std::unique_ptr<Ui::Qt_VestrelClass> ui;
    bool parkingActive = false;
    bool parkingElevationPending = false;
    quint16 staleCommandCount = 0;
    QString rotatorReplyText;
    std::unique_ptr<FileLog> m_fileLog;
    bool m_fileLogFailed = false;
};

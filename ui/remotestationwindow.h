// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QJsonObject>
#include <QJsonValue>
#include <QMainWindow>

#include <memory>

class RemoteClient;

namespace Ui {
class RemoteStationWindowClass;
}

// vestrel --attach: a station that runs elsewhere (vestrel --headless), seen
// and steered through its API. Owns no port; every control is one API
// command, and what it shows is only what the station's state says.
class RemoteStationWindow : public QMainWindow
{
    Q_OBJECT

public:
    // client: opened by the caller, or later; the window follows it.
    explicit RemoteStationWindow(RemoteClient &client, QWidget *parent = nullptr);
    ~RemoteStationWindow() override;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void showConnection();
    void showState();
    void showPort(const char *port);
    void showRadio();
    void showCalibration();
    void startCalibration();
    void askToApply();
    void command(const QString &name, const QJsonObject &fields = {});

    RemoteClient &m_client;
    std::unique_ptr<Ui::RemoteStationWindowClass> m_ui;
    QJsonValue m_shownOffsets;
    QJsonValue m_shownTuneMHz;
    QJsonValue m_shownSkedMHz;
    QJsonValue m_plottedPoints;
};

#pragma once

#include "portconfig.h"

#include <QDialog>

namespace Ui {
class PortSettings;
}

// The settings of one virtual port: protocol, the line's data bits and parity, send mode and
// delay, and whether to connect only while a program has the port open.
class PortSettings : public QDialog
{
    Q_OBJECT

public:
    PortSettings(const PortConfig &config, QWidget *parent);
    ~PortSettings() override;

signals:
    void settingsChosen(PortConfig config);

private slots:
    void on_pushButton_sure_clicked();
    void on_pushButton_cancel_clicked();
    void on_comboBox_protocol_currentIndexChanged(int index);
    void on_comboBox_sendMode_currentIndexChanged(int index);

private:
    void showConfig(const PortConfig &config);

    Ui::PortSettings *ui;
};

#include "portsettings.h"

#include "servicekeys.h"
#include "ui_portsettings.h"

PortSettings::PortSettings(const PortConfig &config, QWidget *parent)
    : QDialog(parent)
    , ui(new Ui::PortSettings)
{
    ui->setupUi(this);
    setWindowFlags(Qt::Dialog | Qt::WindowCloseButtonHint);
    showConfig(config);
}

PortSettings::~PortSettings()
{
    delete ui;
}

// The combo boxes list their choices in the order of the values they stand for.
void PortSettings::showConfig(const PortConfig &config)
{
    ui->comboBox_protocol->setCurrentIndex(config.isRfc2217() ? 1 : 0);
    ui->comboBox_dataBits->setCurrentIndex(qBound(5, config.dataBits, 8) - 5);
    ui->comboBox_parity->setCurrentIndex(qMax(0, PortConfig::parityNames().indexOf(config.parity)));
    ui->comboBox_sendMode->setCurrentIndex(qBound(0, config.sendMode, 2));
    ui->spinBox_sendDelay->setValue(config.sendDelay);
    ui->checkBox_connectOnOpen->setChecked(config.connectOnOpen);
    on_comboBox_protocol_currentIndexChanged(ui->comboBox_protocol->currentIndex());
    on_comboBox_sendMode_currentIndexChanged(ui->comboBox_sendMode->currentIndex());
}

void PortSettings::on_comboBox_protocol_currentIndexChanged(int index)
{
    ui->comboBox_dataBits->setEnabled(index == 1);
    ui->comboBox_parity->setEnabled(index == 1);
}

void PortSettings::on_comboBox_sendMode_currentIndexChanged(int index)
{
    ui->spinBox_sendDelay->setEnabled(index == 2);
}

void PortSettings::on_pushButton_sure_clicked()
{
    PortConfig config;
    config.protocol = ui->comboBox_protocol->currentIndex() == 1 ? ServiceKeys::kProtocolRfc2217
                                                                 : ServiceKeys::kProtocolRaw;
    config.dataBits = ui->comboBox_dataBits->currentIndex() + 5;
    config.parity = PortConfig::parityNames().value(ui->comboBox_parity->currentIndex());
    config.sendMode = ui->comboBox_sendMode->currentIndex();
    config.sendDelay = ui->spinBox_sendDelay->value();
    config.connectOnOpen = ui->checkBox_connectOnOpen->isChecked();
    emit settingsChosen(config);
    close();
}

void PortSettings::on_pushButton_cancel_clicked()
{
    close();
}

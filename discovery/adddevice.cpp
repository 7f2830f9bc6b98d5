#include "adddevice.h"
#include "ui_adddevice.h"

#include "ipv4address.h"

#include <QMessageBox>
#include <QRegularExpressionValidator>

AddDevice::AddDevice(QWidget *parent)
    : QDialog(parent)
    , ui(new Ui::AddDevice)
{
    ui->setupUi(this);
    ui->lineEdit_ip->setValidator(new QRegularExpressionValidator(Ipv4Address::pattern(), this));
}

AddDevice::~AddDevice()
{
    delete ui;
}

void AddDevice::on_pushButton_sure_clicked()
{
    // One device, one name: "10.77.0.02" is handed on as 10.77.0.2.
    const QString ip = Ipv4Address::canonical(ui->lineEdit_ip->text());
    if (!Ipv4Address::isDeviceAddress(ip)) {
        QMessageBox::information(this, tr("提示"), tr("请输入规范的IP地址!"));
        return;
    }
    emit addDevInfo(ui->spinBox_num->value(), ip);
    close();
}

void AddDevice::on_pushButton_cancel_clicked()
{
    close();
}

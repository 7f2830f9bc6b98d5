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
    const QString ip = ui->lineEdit_ip->text();
    if (!Ipv4Address::isValid(ip)) {
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

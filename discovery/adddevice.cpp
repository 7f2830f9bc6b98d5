#include "adddevice.h"
#include "ui_adddevice.h"

#include <QMessageBox>
#include <QRegExp>
#include <QRegExpValidator>

namespace {

// One group: 0 to 99 (a leading zero allowed), 100 to 199, 200 to 249, 250 to 255. [0-9], not
// \d, which takes the digits of every script: no later step reads those as a number.
const QRegExp &ipPattern()
{
    static const QString group = QStringLiteral("([0-9]{1,2}|1[0-9]{2}|2[0-4][0-9]|25[0-5])");
    static const QRegExp pattern(QStringLiteral("^%1\\.%1\\.%1\\.%1$").arg(group));
    return pattern;
}

} // namespace

AddDevice::AddDevice(QWidget *parent)
    : QDialog(parent)
    , ui(new Ui::AddDevice)
{
    ui->setupUi(this);
    ui->lineEdit_ip->setValidator(new QRegExpValidator(ipPattern(), this));
}

AddDevice::~AddDevice()
{
    delete ui;
}

bool AddDevice::isValidIp(const QString &text)
{
    return ipPattern().exactMatch(text);
}

void AddDevice::on_pushButton_sure_clicked()
{
    const QString ip = ui->lineEdit_ip->text();
    if (!isValidIp(ip)) {
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

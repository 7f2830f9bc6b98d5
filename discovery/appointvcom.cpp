#include "appointvcom.h"
#include "ui_appointvcom.h"

AppointVcom::AppointVcom(int max, QWidget *parent)
    : QDialog(parent)
    , ui(new Ui::AppointVcom)
{
    ui->setupUi(this);
    ui->spinBox->setRange(1, qMax(max, 1));
    ui->spinBox->setValue(1);
}

AppointVcom::~AppointVcom()
{
    delete ui;
}

void AppointVcom::on_pushButton_sure_clicked()
{
    emit appointSeq(ui->spinBox->value());
    close();
}

void AppointVcom::on_pushButton_cancel_clicked()
{
    close();
}

#include "abouthelp.h"

#include "ui_abouthelp.h"

AboutHelp::AboutHelp(QWidget *parent)
    : QDialog(parent)
    , ui(new Ui::AboutHelp)
{
    ui->setupUi(this);
    ui->label_version->setText(QStringLiteral("V1.2.7.632"));
}

AboutHelp::~AboutHelp()
{
    delete ui;
}

#include "modifycom.h"

#include "comnumbers.h"
#include "ui_modifycom.h"

#include <QMessageBox>

ModifyCom::ModifyCom(const QStringList &usedPortNames, QWidget *parent)
    : QDialog(parent)
    , ui(new Ui::ModifyCom)
    , usedPortNames(usedPortNames)
{
    ui->setupUi(this);
    setWindowFlags(Qt::Dialog | Qt::WindowCloseButtonHint);
    fillComboBox();
}

ModifyCom::~ModifyCom()
{
    delete ui;
}

void ModifyCom::fillComboBox()
{
    QStringList items;
    items.reserve(maxComNumber);
    for (int k = 1; k <= maxComNumber; ++k) {
        const QString name = QStringLiteral("COM%1").arg(k);
        items << (usedPortNames.contains(name) ? tr("COM%1（使用中）").arg(k) : name);
    }
    ui->comboBox->addItems(items);
}

void ModifyCom::on_pushButton_sure_clicked()
{
    const QString chosen = ui->comboBox->currentText();
    if (chosen.contains(tr("使用中"))) {
        QMessageBox::about(this, tr("提示"), tr("当前串口已被使用！"));
        return;
    }
    emit modifyToCom(chosen);
    close();
}

void ModifyCom::on_pushButton_cancel_clicked()
{
    close();
}

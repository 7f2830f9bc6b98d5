#include "progressbar.h"

#include "ui_progressbar.h"

#include <QCloseEvent>

namespace {

const QSize compactSize(400, 40);
const QSize errorSize(400, 150);

} // namespace

Progressbar::Progressbar(QString title, QWidget *parent)
    : QDialog(parent)
    , ui(new Ui::progressbar)
{
    ui->setupUi(this);
    ui->progressBar->setRange(0, 100);
    ui->label->hide();
    setWindowTitle(title);
    resize(compactSize);
    setWindowFlags(Qt::Dialog | Qt::WindowCloseButtonHint);
}

Progressbar::~Progressbar() { delete ui; }

void Progressbar::onSetValue(int value)
{
    ui->progressBar->setValue(value);
    if (value == ui->progressBar->maximum())
        close();
}

void Progressbar::onSetError(QString msg)
{
    resize(errorSize);
    ui->label->show();
    ui->label->setText(QStringLiteral("<span style=\"color:#ff0000;\">%1</span> ").arg(msg));
}

void Progressbar::onSetRange(int min, int max) { ui->progressBar->setRange(min, max); }

void Progressbar::closeEvent(QCloseEvent *event)
{
    ui->label->hide();
    resize(compactSize);
    QDialog::closeEvent(event);
}

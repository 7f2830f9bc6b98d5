#include "progressbar.h"

#include "ui_progressbar.h"

#include <QCloseEvent>
#include <QLayout>

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
    // Flags first: changing them re-creates the window and would drop the size.
    setWindowFlags(Qt::Dialog | Qt::WindowCloseButtonHint);
    resize(compactSize);
}

Progressbar::~Progressbar()
{
    delete ui;
}

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

void Progressbar::onSetRange(int min, int max)
{
    ui->progressBar->setRange(min, max);
}

void Progressbar::closeEvent(QCloseEvent *event)
{
    ui->label->hide();
    // The layout must forget the label before the dialog can shrink to its compact height.
    layout()->activate();
    resize(compactSize);
    QDialog::closeEvent(event);
}

#pragma once

#include <QDialog>

namespace Ui {
class AppointVcom;
}

// Picks one device port, 1 to the device's port count, for a single new virtual port.
class AppointVcom : public QDialog
{
    Q_OBJECT

public:
    AppointVcom(int max, QWidget *parent = nullptr);
    ~AppointVcom() override;

signals:
    void appointSeq(int port_seq);

private slots:
    void on_pushButton_sure_clicked();
    void on_pushButton_cancel_clicked();

private:
    Ui::AppointVcom *ui;
};

#pragma once

#include <QDialog>
#include <QString>

namespace Ui {
class AddDevice;
}

// Manual entry of a device the search does not find: its port count and IPv4 address, handed
// on in its canonical spelling; an address no device can have is refused.
class AddDevice : public QDialog
{
    Q_OBJECT

public:
    explicit AddDevice(QWidget *parent = nullptr);
    ~AddDevice() override;

signals:
    void addDevInfo(int num, QString ip);

private slots:
    void on_pushButton_sure_clicked();
    void on_pushButton_cancel_clicked();

private:
    Ui::AddDevice *ui;
};

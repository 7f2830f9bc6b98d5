#pragma once

#include <QDialog>

namespace Ui {
class progressbar;
}

// Shows how far a long worker task has come; closes itself when the bar is full.
class Progressbar : public QDialog
{
    Q_OBJECT

public:
    Progressbar(QString title, QWidget *parent);
    ~Progressbar() override;

public slots:
    void onSetValue(int value);
    void onSetError(QString msg);
    void onSetRange(int min, int max);

protected:
    void closeEvent(QCloseEvent *event) override;

private:
    Ui::progressbar *ui;
};

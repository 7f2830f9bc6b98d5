#pragma once

#include <QMainWindow>

namespace Ui {
class MainWindow;
}

// The working view: the device tree and the device and COM-port tables, rebuilt from the
// worker's port lists.
class MainWindow : public QMainWindow
{
    Q_OBJECT

public:
    explicit MainWindow(QWidget *parent = nullptr);
    ~MainWindow() override;

signals:
    void retranslateUI();

private:
    Ui::MainWindow *ui;
};

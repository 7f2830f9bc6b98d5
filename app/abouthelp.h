#pragma once

#include <QDialog>

namespace Ui {
class AboutHelp;
}

// The about dialog: the program's version.
class AboutHelp : public QDialog
{
    Q_OBJECT

public:
    explicit AboutHelp(QWidget *parent = nullptr);
    ~AboutHelp() override;

private:
    Ui::AboutHelp *ui;
};

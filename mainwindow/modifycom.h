#pragma once

#include <QDialog>
#include <QStringList>

namespace Ui {
class ModifyCom;
}

// Offers COM1 to COM255 as the new name of a virtual port; names already taken are marked
// and refused.
class ModifyCom : public QDialog
{
    Q_OBJECT

public:
    // usedPortNames: what the caller knows to be taken; the dialog itself asks no one.
    ModifyCom(const QStringList &usedPortNames, QWidget *parent);
    ~ModifyCom() override;

signals:
    void modifyToCom(QString newCom);

private slots:
    void on_pushButton_sure_clicked();
    void on_pushButton_cancel_clicked();

private:
    void fillComboBox();

    Ui::ModifyCom *ui;
    QStringList usedPortNames;
};

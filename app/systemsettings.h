#pragma once

#include <QDialog>
#include <QTranslator>

namespace Ui {
class SystemSettings;
}

// The settings dialog: start at log-on (an autostart entry named "TIRV") and the interface
// language (Chinese or English, chosen again from the locale at every start).
class SystemSettings : public QDialog
{
    Q_OBJECT

public:
    explicit SystemSettings(QWidget *parent = nullptr);
    ~SystemSettings() override;

    void readAutoRunStatus();
    void selectSystemLanguage();

signals:
    void changeAutoRunStatus(bool);
    void changeLanguageStatus(bool);
    void retranslateUI();

private slots:
    void on_checkBox_autoRun_clicked(bool checked);
    void on_radioButton_Chinese_clicked(bool checked);
    void on_radioButton_English_clicked(bool checked);

private:
    void switchLanguage(bool chinese);
    void switchQtWords(bool chinese);

    Ui::SystemSettings *ui;
    // Qt's own words, such as the buttons of a message box: installed for Chinese only.
    QTranslator qtWords;
};

#include "systemsettings.h"

#include "autostartentry.h"
#include "ui_systemsettings.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>

namespace {
const QString autostartName = QStringLiteral("TIRV");
}

SystemSettings::SystemSettings(QWidget *parent)
    : QDialog(parent)
    , ui(new Ui::SystemSettings)
{
    ui->setupUi(this);
}

SystemSettings::~SystemSettings()
{
    delete ui;
}

void SystemSettings::on_checkBox_autoRun_clicked(bool checked)
{
    const AutostartEntry entry(autostartName);
    // A failed write or removal shows up in what is read back below.
    if (checked)
        entry.write(QCoreApplication::applicationFilePath());
    else
        entry.remove();
    readAutoRunStatus();
}

void SystemSettings::readAutoRunStatus()
{
    const bool on = AutostartEntry(autostartName).exists();
    ui->checkBox_autoRun->setChecked(on);
    emit changeAutoRunStatus(on);
}

void SystemSettings::selectSystemLanguage()
{
    if (QLocale().language() == QLocale::Chinese)
        ui->radioButton_Chinese->click();
    else
        ui->radioButton_English->click();
}

void SystemSettings::on_radioButton_Chinese_clicked(bool checked)
{
    if (checked)
        switchLanguage(true);
}

void SystemSettings::on_radioButton_English_clicked(bool checked)
{
    if (checked)
        switchLanguage(false);
}

// The newest translator is consulted first, so the latest choice is the one in force.
void SystemSettings::switchLanguage(bool chinese)
{
    switchQtWords(chinese);
    auto *translator = new QTranslator(QCoreApplication::instance());
    translator->load(
        chinese ? QStringLiteral(":/form/Chinese.qm") : QStringLiteral(":/form/English.qm"));
    QCoreApplication::installTranslator(translator);
    ui->retranslateUi(this);
    emit changeLanguageStatus(chinese);
    emit retranslateUI();
}

// Where Qt's catalogue is installed; without it the buttons stay English.
void SystemSettings::switchQtWords(bool chinese)
{
    QCoreApplication::removeTranslator(&qtWords);
    if (chinese
        && qtWords.load(QLocale(QLocale::Chinese, QLocale::China), QStringLiteral("qtbase"),
            QStringLiteral("_"), QLibraryInfo::location(QLibraryInfo::TranslationsPath)))
        QCoreApplication::installTranslator(&qtWords);
}

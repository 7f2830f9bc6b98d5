#include "abouthelp.h"
#include "adddevice.h"
#include "autostartentry.h"
#include "getdevice.h"
#include "searchnetwork.h"
#include "systemsettings.h"
#include "tirvresources.h"

#include <QCheckBox>
#include <QFile>
#include <QGroupBox>
#include <QLabel>
#include <QRadioButton>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTranslator>
#include <QtTest>

namespace {

QString autostartFile()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation)
        + QStringLiteral("/autostart/TIRV.desktop");
}

QString readFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly | QIODevice::Text) ? QString::fromUtf8(file.readAll())
                                                            : QString();
}

int installedTranslators()
{
    return qApp->findChildren<QTranslator *>(QString(), Qt::FindDirectChildrenOnly).size();
}

// No interfaces: the search dialog is built for its form alone and sends nothing.
class NoNetwork : public SearchNetwork
{
public:
    QList<QNetworkAddressEntry> allAddressEntries() const override { return {}; }
    QList<QPair<QString, QString>> interfaces() const override { return {}; }
};

void useCatalogue(SystemSettings &settings, const char *radio)
{
    settings.findChild<QRadioButton *>(QLatin1String(radio))->click();
}

} // namespace

class TestShellDialogs : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init() { QFile::remove(autostartFile()); }

    void autorunOnWritesEntryOffRemovesIt();
    void foreignEntryReadsAsOn();
    void execValue_data();
    void execValue();
    void languageFromLocale_data();
    void languageFromLocale();
    void repeatedClickInstallsAgain();
    void englishTexts();
    void formsCarryTheirSheet_data();
    void formsCarryTheirSheet();
    void aboutHelp_data();
    void aboutHelp();
};

void TestShellDialogs::initTestCase()
{
    initTirvResources();
    // The runner gives us a fresh config folder; never touch a real one.
    QVERIFY(!qEnvironmentVariableIsEmpty("XDG_CONFIG_HOME"));
}

void TestShellDialogs::autorunOnWritesEntryOffRemovesIt()
{
    SystemSettings settings;
    QSignalSpy status(&settings, &SystemSettings::changeAutoRunStatus);
    auto *box = settings.findChild<QCheckBox *>(QStringLiteral("checkBox_autoRun"));

    box->click();
    QVERIFY(box->isChecked());
    QCOMPARE(status.size(), 1);
    QCOMPARE(status.last().first().toBool(), true);
    const QString entry = readFile(autostartFile());
    QVERIFY(entry.startsWith(QLatin1String("[Desktop Entry]\n")));
    QVERIFY2(
        entry.contains(QStringLiteral("\nExec=%1\n").arg(QCoreApplication::applicationFilePath())),
        qPrintable(entry));

    box->click();
    QVERIFY(!box->isChecked());
    QVERIFY(!QFile::exists(autostartFile()));
    QCOMPARE(status.size(), 2);
    QCOMPARE(status.last().first().toBool(), false);
}

void TestShellDialogs::foreignEntryReadsAsOn()
{
    QVERIFY(AutostartEntry(QStringLiteral("TIRV")).write(QStringLiteral("/opt/elsewhere/other")));
    SystemSettings settings;
    QSignalSpy status(&settings, &SystemSettings::changeAutoRunStatus);
    settings.readAutoRunStatus();
    QVERIFY(settings.findChild<QCheckBox *>(QStringLiteral("checkBox_autoRun"))->isChecked());
    QCOMPARE(status.size(), 1);
    QCOMPARE(status.first().first().toBool(), true);
}

void TestShellDialogs::execValue_data()
{
    QTest::addColumn<QString>("program");
    QTest::addColumn<QString>("exec");

    QTest::newRow("plain") << "/usr/bin/tirv"
                           << "/usr/bin/tirv";
    QTest::newRow("space") << "/home/a b/tirv"
                           << "\"/home/a b/tirv\"";
    // Quoted, then the quote-level and the key-file-level escapes.
    QTest::newRow("dollar and quote") << "/x/$y\"z"
                                      << "\"/x/\\\\$y\\\\\"z\"";
    QTest::newRow("backslash") << "/x\\y"
                               << "\"/x\\\\\\\\y\"";
    QTest::newRow("percent") << "/x/100%/tirv"
                             << "/x/100%%/tirv";
}

void TestShellDialogs::execValue()
{
    QFETCH(QString, program);
    QFETCH(QString, exec);
    QCOMPARE(AutostartEntry::execValue(program), exec);
}

void TestShellDialogs::languageFromLocale_data()
{
    QTest::addColumn<QString>("locale");
    QTest::addColumn<bool>("chinese");
    QTest::addColumn<QString>("title");

    QTest::newRow("zh_CN") << "zh_CN" << true << "系统设置";
    QTest::newRow("zh_TW") << "zh_TW" << true << "系统设置";
    QTest::newRow("en_US") << "en_US" << false << "System settings";
    QTest::newRow("de_DE") << "de_DE" << false << "System settings";
    QTest::newRow("ja_JP") << "ja_JP" << false << "System settings";
}

void TestShellDialogs::languageFromLocale()
{
    QFETCH(QString, locale);
    QFETCH(bool, chinese);
    QFETCH(QString, title);

    const QLocale previous;
    QLocale::setDefault(QLocale(locale));
    SystemSettings settings;
    QSignalSpy language(&settings, &SystemSettings::changeLanguageStatus);
    settings.selectSystemLanguage();
    QLocale::setDefault(previous);

    QCOMPARE(language.size(), 1);
    QCOMPARE(language.first().first().toBool(), chinese);
    QCOMPARE(settings.findChild<QRadioButton *>(QStringLiteral("radioButton_Chinese"))->isChecked(),
        chinese);
    QCOMPARE(settings.windowTitle(), title);
}

void TestShellDialogs::repeatedClickInstallsAgain()
{
    SystemSettings settings;
    QStringList events;
    connect(&settings, &SystemSettings::changeLanguageStatus, this,
        [&events](bool chinese) { events << (chinese ? "chinese" : "english"); });
    connect(
        &settings, &SystemSettings::retranslateUI, this, [&events] { events << "retranslate"; });

    const int before = installedTranslators();
    useCatalogue(settings, "radioButton_English");
    useCatalogue(settings, "radioButton_English");
    QCOMPARE(installedTranslators(), before + 2);
    QCOMPARE(events, QStringList({ "english", "retranslate", "english", "retranslate" }));

    // The newest translator wins. Qt's own words, a message box's buttons, follow.
    useCatalogue(settings, "radioButton_Chinese");
    QCOMPARE(QCoreApplication::translate("MainWindow", "搜索设备"), QStringLiteral("搜索设备"));
    QCOMPARE(QCoreApplication::translate("QPlatformTheme", "OK"), QStringLiteral("确定"));
    useCatalogue(settings, "radioButton_English");
    QCOMPARE(
        QCoreApplication::translate("MainWindow", "搜索设备"), QStringLiteral("Search Device"));
    QCOMPARE(QCoreApplication::translate("QPlatformTheme", "OK"), QStringLiteral("OK"));
}

void TestShellDialogs::englishTexts()
{
    SystemSettings settings;
    useCatalogue(settings, "radioButton_English");
    QCOMPARE(settings.windowTitle(), QStringLiteral("System settings"));
    QCOMPARE(settings.findChild<QGroupBox *>(QStringLiteral("groupBox"))->title(),
        QStringLiteral("Auto-start settings"));
    QCOMPARE(settings.findChild<QGroupBox *>(QStringLiteral("groupBox_2"))->title(),
        QStringLiteral("Language settings"));
    QCOMPARE(settings.findChild<QCheckBox *>(QStringLiteral("checkBox_autoRun"))->text(),
        QStringLiteral("Auto-start at boot"));
    QCOMPARE(settings.findChild<QRadioButton *>(QStringLiteral("radioButton_Chinese"))->text(),
        QStringLiteral("中文"));
    QCOMPARE(settings.findChild<QRadioButton *>(QStringLiteral("radioButton_English"))->text(),
        QStringLiteral("English"));
}

void TestShellDialogs::formsCarryTheirSheet_data()
{
    QTest::addColumn<QString>("sheet");
    QTest::addColumn<QString>("carried");

    QTest::newRow("settings") << "settings" << SystemSettings().styleSheet();
    QTest::newRow("about") << "inputform" << AboutHelp().styleSheet();
    QTest::newRow("add device") << "inputform" << AddDevice().styleSheet();
    QTest::newRow("search") << "itemview" << GetDevice(new NoNetwork, nullptr).styleSheet();
}

// The forms carry a pasted copy of the theme; it must not drift from the sheet files.
void TestShellDialogs::formsCarryTheirSheet()
{
    QFETCH(QString, sheet);
    QFETCH(QString, carried);
    const QString file
        = readFile(QStringLiteral(TIRV_SOURCE_DIR "/resources/stylesheets/%1.qss").arg(sheet));
    QVERIFY(!file.isEmpty());
    QCOMPARE(carried, file);
}

void TestShellDialogs::aboutHelp_data()
{
    QTest::addColumn<QString>("catalogue");
    QTest::addColumn<QString>("title");

    QTest::newRow("English") << "English"
                             << "About Help";
    QTest::newRow("Chinese") << "Chinese"
                             << "关于帮助";
}

void TestShellDialogs::aboutHelp()
{
    QFETCH(QString, catalogue);
    QFETCH(QString, title);

    QTranslator translator;
    QVERIFY(translator.load(QStringLiteral(":/form/%1.qm").arg(catalogue)));
    QCoreApplication::installTranslator(&translator);
    AboutHelp about;
    QCoreApplication::removeTranslator(&translator);
    QCOMPARE(about.windowTitle(), title);
    QCOMPARE(
        about.findChild<QLabel *>(QStringLiteral("label"))->text(), QStringLiteral("Verison :"));
    QCOMPARE(about.findChild<QLabel *>(QStringLiteral("label_version"))->text(),
        QStringLiteral("V1.2.7.632"));
}

QTEST_MAIN(TestShellDialogs)
#include "tst_shelldialogs.moc"

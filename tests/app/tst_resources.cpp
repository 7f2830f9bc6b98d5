#include "tirvresources.h"

#include <QDirIterator>
#include <QFile>
#include <QImage>
#include <QRegularExpression>
#include <QSet>
#include <QTranslator>
#include <QXmlStreamReader>
#include <QtTest>

namespace {

struct Message
{
    QString context;
    QString source;
    QString translation;
};

QList<Message> readCatalogueSource(const QString &name)
{
    QFile file(QStringLiteral(TIRV_SOURCE_DIR "/resources/translations/%1.ts").arg(name));
    if (!file.open(QIODevice::ReadOnly))
        return {};
    QList<Message> messages;
    QString context;
    QXmlStreamReader xml(&file);
    while (!xml.atEnd()) {
        if (xml.readNext() != QXmlStreamReader::StartElement)
            continue;
        if (xml.name() == QLatin1String("name"))
            context = xml.readElementText();
        else if (xml.name() == QLatin1String("source"))
            messages.append({ context, xml.readElementText(), QString() });
        else if (xml.name() == QLatin1String("translation"))
            messages.last().translation = xml.readElementText();
    }
    return messages;
}

// Every ":/..." path named by the program's sources, forms and style sheets.
QSet<QString> pathsNamedInSources()
{
    static const QRegularExpression resourcePath(
        QStringLiteral("(?<![\\w.]):/[A-Za-z0-9_./-]*[A-Za-z0-9_]"));
    QSet<QString> paths;
    for (const char *folder :
        { "app", "mainwindow", "discovery", "engine", "forms", "resources/stylesheets" }) {
        QDirIterator it(QStringLiteral(TIRV_SOURCE_DIR "/") + QLatin1String(folder),
            { "*.cpp", "*.h", "*.ui", "*.qss" }, QDir::Files, QDirIterator::Subdirectories);
        while (it.hasNext()) {
            QFile file(it.next());
            if (!file.open(QIODevice::ReadOnly | QIODevice::Text))
                continue;
            auto matches = resourcePath.globalMatch(QString::fromUtf8(file.readAll()));
            while (matches.hasNext())
                paths.insert(matches.next().captured());
        }
    }
    return paths;
}

QString otherSpelling(const QString &path)
{
    return path.endsWith(QLatin1String(".png")) ? path.chopped(4) : path + QStringLiteral(".png");
}

} // namespace

class TestResources : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { initTirvResources(); }

    void lookupByContext_data();
    void lookupByContext();
    void everySourceMessageIsCompiled_data();
    void everySourceMessageIsCompiled();
    void bothCataloguesHoldTheSameMessages();
    void picturesResolveWithAndWithoutSuffix_data();
    void picturesResolveWithAndWithoutSuffix();
    void cataloguesArePresent();
};

void TestResources::lookupByContext_data()
{
    QTest::addColumn<QString>("catalogue");
    QTest::addColumn<QString>("context");
    QTest::addColumn<QString>("source");
    QTest::addColumn<QString>("expected");

    QTest::newRow("MainWindow search, English") << "English"
                                                << "MainWindow"
                                                << "搜索设备"
                                                << "Search Device";
    QTest::newRow("GetDevice search, English") << "English"
                                               << "GetDevice"
                                               << "搜索设备"
                                               << "Search device";
    QTest::newRow("AppointVcom title, English") << "English"
                                                << "AppointVcom"
                                                << "Dialog"
                                                << "Create COM";
    QTest::newRow("AppointVcom title, Chinese") << "Chinese"
                                                << "AppointVcom"
                                                << "Dialog"
                                                << "创建虚拟串口";
    QTest::newRow("SystemSettings title, Chinese") << "Chinese"
                                                   << "SystemSettings"
                                                   << "Dialog"
                                                   << "系统设置";
    QTest::newRow("SystemSettings title, English") << "English"
                                                   << "SystemSettings"
                                                   << "Dialog"
                                                   << "System settings";
    QTest::newRow("MainWindow title, Chinese") << "Chinese"
                                               << "MainWindow"
                                               << "MainWindow"
                                               << "TIRV";
    QTest::newRow("Save everywhere") << "English"
                                     << "ModifyCom"
                                     << "确定"
                                     << "Save";
    QTest::newRow("identity in Chinese") << "Chinese"
                                         << "RefreshTree"
                                         << "已连接"
                                         << "已连接";
    QTest::newRow("state text, English") << "English"
                                         << "RefreshTree"
                                         << "未连接"
                                         << "Disconnected";
    // No entry: the source text shows, in either language.
    QTest::newRow("no entry, English") << "English"
                                       << "AboutHelp"
                                       << "Verison :"
                                       << "Verison :";
    QTest::newRow("no entry, Chinese") << "Chinese"
                                       << "AboutHelp"
                                       << "Verison :"
                                       << "Verison :";
    QTest::newRow("other context") << "English"
                                   << "TIRVStyle"
                                   << "搜索设备"
                                   << "搜索设备";
    QTest::newRow("button dots") << "English"
                                 << "TIRVStyle"
                                 << "..."
                                 << "...";
}

void TestResources::lookupByContext()
{
    QFETCH(QString, catalogue);
    QFETCH(QString, context);
    QFETCH(QString, source);
    QFETCH(QString, expected);

    QTranslator translator;
    QVERIFY(translator.load(QStringLiteral(":/form/%1.qm").arg(catalogue)));
    QCoreApplication::installTranslator(&translator);
    const QString shown = QCoreApplication::translate(context.toUtf8(), source.toUtf8());
    QCoreApplication::removeTranslator(&translator);
    QCOMPARE(shown, expected);
}

void TestResources::everySourceMessageIsCompiled_data()
{
    QTest::addColumn<QString>("catalogue");
    QTest::addColumn<QString>("language");
    QTest::newRow("Chinese") << "Chinese"
                             << "";
    // The English tag stays: the compiler writes English plural rules only along with it.
    QTest::newRow("English") << "English"
                             << "en_US";
}

void TestResources::everySourceMessageIsCompiled()
{
    QFETCH(QString, catalogue);
    QFETCH(QString, language);
    const QList<Message> messages = readCatalogueSource(catalogue);
    QCOMPARE(messages.size(), 121);

    QTranslator translator;
    QVERIFY(translator.load(QStringLiteral(":/form/%1.qm").arg(catalogue)));
    QCOMPARE(translator.language(), language);
    for (const Message &m : messages)
        QCOMPARE(translator.translate(m.context.toUtf8(), m.source.toUtf8()), m.translation);
}

void TestResources::bothCataloguesHoldTheSameMessages()
{
    const auto keys = [](const QList<Message> &messages) {
        QStringList list;
        for (const Message &m : messages)
            list.append(m.context + QLatin1Char('|') + m.source);
        return list;
    };
    const QList<Message> chinese = readCatalogueSource(QStringLiteral("Chinese"));
    const QList<Message> english = readCatalogueSource(QStringLiteral("English"));
    QCOMPARE(keys(chinese), keys(english));

    QSet<QString> contexts;
    QStringList differing;
    for (const Message &m : chinese) {
        contexts.insert(m.context);
        if (m.translation != m.source)
            differing.append(m.context + QLatin1Char('|') + m.source);
    }
    const QSet<QString> expectedContexts { "AboutHelp", "AddDevice", "AppointVcom", "GetDevice",
        "MainWindow", "ModifyCom", "PortSettings", "RefreshTree", "SystemSettings", "TIRVStyle",
        "help", "progressbar" };
    QCOMPARE(contexts, expectedContexts);
    QCOMPARE(differing,
        QStringList({ "AppointVcom|Dialog", "MainWindow|MainWindow", "SystemSettings|Dialog" }));
}

void TestResources::picturesResolveWithAndWithoutSuffix_data()
{
    QTest::addColumn<QString>("path");

    // The pictures every window relies on, whether or not its code is written yet.
    static const QStringList required { ":/form/TIRV.png", ":/form/icon_window_minimize.png",
        ":/form/icon_window_restore.png", ":/form/icon_window_maximize.png",
        ":/form/icon_window_close.png", ":/gui/lightblue/radiobutton_checked.png",
        ":/gui/lightblue/radiobutton_unchecked.png",
        ":/gui/lightblue/radiobutton_checked_disable.png",
        ":/gui/lightblue/radiobutton_unchecked_disable.png", ":/gui/lightblue/checkbox_checked.png",
        ":/gui/lightblue/checkbox_unchecked.png", ":/gui/lightblue/checkbox_parcial.png",
        ":/gui/lightblue/checkbox_checked_disable.png",
        ":/gui/lightblue/checkbox_unchecked_disable.png",
        ":/gui/lightblue/checkbox_parcial_disable.png", ":/gui/lightblue/add_top.png",
        ":/gui/lightblue/add_bottom.png", ":/gui/lightblue/branch_open.png",
        ":/gui/lightblue/branch_close.png", ":/images/bj.png", ":/images/branch-more.png",
        ":/images/branch-end.png", ":/images/branch-closed.png", ":/images/branch-open.png",
        ":/images/vline.png", ":/icons/search.png", ":/icons/add1.png", ":/icons/webconfig.png",
        ":/icons/help.png", ":/icons/devList1.png", ":/icons/deviceList.png",
        ":/icons/autorun0.png", ":/icons/autorun1.png", ":/icons/Chinese.png",
        ":/icons/English.png", ":/icons/device.png", ":/icons/serial.png",
        ":/icons/serial_gray.png", ":/icons/serial_green.png", ":/icons/serial_warn.png",
        ":/icons/serial_error.png", ":/icons/add.png", ":/icons/delete.png", ":/icons/goweb.png",
        ":/icons/modify.png" };
    QSet<QString> paths(required.cbegin(), required.cend());
    for (const QString &path : pathsNamedInSources()) {
        if (!path.endsWith(QLatin1String(".qm")))
            paths.insert(path);
    }
    QStringList sorted = paths.values();
    sorted.sort();
    for (const QString &path : sorted)
        QTest::newRow(qPrintable(path)) << path;
}

void TestResources::picturesResolveWithAndWithoutSuffix()
{
    QFETCH(QString, path);
    const QImage named(path);
    const QImage other(otherSpelling(path));
    QVERIFY2(!named.isNull(), qPrintable(path + QStringLiteral(" does not load")));
    QCOMPARE(other, named);
}

void TestResources::cataloguesArePresent()
{
    for (const QString &path : pathsNamedInSources()) {
        if (path.endsWith(QLatin1String(".qm")))
            QVERIFY2(QFile::exists(path), qPrintable(path));
    }
    QVERIFY(QFile::exists(QStringLiteral(":/form/Chinese.qm")));
    QVERIFY(QFile::exists(QStringLiteral(":/form/English.qm")));
}

QTEST_GUILESS_MAIN(TestResources)
#include "tst_resources.moc"

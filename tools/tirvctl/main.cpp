#include "commanddispatcher.h"
#include "ctlcommands.h"
#include "tirvresources.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QLocale>
#include <QLoggingCategory>
#include <QTextStream>
#include <QTranslator>

#include <cstdio>

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("tirvctl"));
    QCoreApplication::setApplicationVersion(QStringLiteral(TIRV_VERSION));
    // The engine's diagnostic lines would mix with the output; QT_LOGGING_RULES brings them back.
    QLoggingCategory::setFilterRules(QStringLiteral("*.debug=false"));

    // The window's catalogue of the locale's language, so that messages read as in the window,
    // and in Chinese tirvctl's own (its texts are written in English).
    initTirvResources();
    const bool chinese = QLocale::system().language() == QLocale::Chinese;
    QTranslator windowCatalogue;
    if (windowCatalogue.load(
            chinese ? QStringLiteral(":/form/Chinese.qm") : QStringLiteral(":/form/English.qm")))
        QCoreApplication::installTranslator(&windowCatalogue);
    QTranslator ownCatalogue;
    if (chinese && ownCatalogue.load(QStringLiteral(":/tirvctl/tirvctl_zh_CN.qm")))
        QCoreApplication::installTranslator(&ownCatalogue);
    // Qt's own, for the words of the help ("Usage:", "Options:"), where it is installed.
    QTranslator qtCatalogue;
    if (chinese
        && qtCatalogue.load(QLocale::system(), QStringLiteral("qtbase"), QStringLiteral("_"),
            QLibraryInfo::location(QLibraryInfo::TranslationsPath)))
        QCoreApplication::installTranslator(&qtCatalogue);

    QTextStream out(stdout);
    QTextStream err(stderr);
    CtlCommands commands(out, err);
    return CommandDispatcher(commands, out, err).run(QCoreApplication::arguments());
}

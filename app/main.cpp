#include "app/appcontext.h"
#include "app/father.h"
#include "app/userdialogs.h"

#include <QApplication>
#include <QLibraryInfo>
#include <QTranslator>

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("t83tool"));
    QApplication::setOrganizationName(QStringLiteral("Norvik"));

    // Standard buttons of message boxes and dialogs read in Chinese ("确定", "取消").
    QTranslator qtTranslator;
    if (qtTranslator.load(QLocale(QLocale::Chinese, QLocale::China), QStringLiteral("qtbase"),
                          QStringLiteral("_"), QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
        QApplication::installTranslator(&qtTranslator);

    QtUserDialogs dialogs;
    AppContext ctx(dialogs);
    Father* father = ctx.startup();
    father->show();
    return QApplication::exec();
}

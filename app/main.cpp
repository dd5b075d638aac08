#include "app/appcontext.h"
#include "app/splashwindow.h"
#include "app/userdialogs.h"

#include <QApplication>
#include <QLibraryInfo>
#include <QLocale>
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
    // The splash shows for a second, then the main window opens and starts up.
    auto* splash = new SplashWindow(ctx);
    splash->show();
    splash->Form_Load();
    return QApplication::exec();
}

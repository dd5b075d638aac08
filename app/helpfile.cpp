#include "app/helpfile.h"

#include <QDir>
#include <QFileInfo>

HelpPlaces DefaultHelpPlaces(const QString& programDir) {
    const QDir dir(programDir);
    HelpPlaces places;
    places.chm = dir.filePath(QStringLiteral("kaivo.chm"));
    places.guides << QDir::cleanPath(
        dir.filePath(QStringLiteral("../share/doc/t83tool/guide/index.html")));
#ifdef T83_SOURCE_GUIDE
    places.guides << QStringLiteral(T83_SOURCE_GUIDE);
#endif
    return places;
}

QString ChooseHelp(const HelpPlaces& places) {
    if (!places.chm.isEmpty() && QFileInfo::exists(places.chm))
        return places.chm;
    for (const QString& guide : places.guides) {
        if (QFileInfo(guide).isFile())
            return guide;
    }
    return {};
}

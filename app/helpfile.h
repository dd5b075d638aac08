#pragma once

#include <QString>
#include <QStringList>

// Where F1 looks for help: the compiled help file beside the program (Windows), else
// the user guide installed with the program or, for a run from the build tree, the one
// in the source tree.
struct HelpPlaces {
    QString chm;
    QStringList guides;
};

// The places for a program in programDir: "kaivo.chm" beside it, the installed guide
// (<prefix>/share/doc/t83tool/guide/index.html) and the source tree's guide.
HelpPlaces DefaultHelpPlaces(const QString& programDir);

// The first of the places that exists: the help file, then each guide in turn; empty
// when none does (the caller then says the help file is missing).
QString ChooseHelp(const HelpPlaces& places);

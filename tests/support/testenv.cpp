#include "tests/support/testenv.h"

#include <QDir>
#include <QSettings>

namespace {
QTemporaryDir* root() {
    static QTemporaryDir dir;
    return &dir;
}
} // namespace

void testenv::isolate() {
    const QString base = root()->path();
    QDir(base).mkpath(QStringLiteral("config"));
    QDir(base).mkpath(QStringLiteral("work"));
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(base + QStringLiteral("/config")));
    QDir::setCurrent(base + QStringLiteral("/work"));
}

QString testenv::workDir() {
    return root()->path() + QStringLiteral("/work");
}

void testenv::reset() {
    QSettings settings(QSettings::IniFormat, QSettings::UserScope, QStringLiteral("Norvik"),
                       QStringLiteral("t83tool"));
    settings.clear();
    settings.sync();
    QDir work(workDir());
    for (const QFileInfo& info : work.entryInfoList(QDir::Files | QDir::Hidden | QDir::System)) {
        QFile f(info.absoluteFilePath());
        f.setPermissions(f.permissions() | QFileDevice::WriteOwner);
        f.remove();
    }
    QDir::setCurrent(workDir());
}

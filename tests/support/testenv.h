#pragma once

#include <QApplication>
#include <QTemporaryDir>
#include <QtTest>

// Every test program runs with its own settings store and working directory, set up
// before Qt makes its first QSettings (Qt caches the settings location). Tests never
// touch the user's settings or a real serial device.
namespace testenv {
// Makes the temporary config and working directories; called before the application.
void isolate();
// Empties the settings store and the working directory between test functions.
void reset();
QString workDir();
} // namespace testenv

#define T83_TEST_MAIN(TestObject)                                                                  \
    int main(int argc, char* argv[]) {                                                             \
        testenv::isolate();                                                                        \
        QApplication app(argc, argv);                                                              \
        QApplication::setApplicationName(QStringLiteral("t83tool"));                               \
        TestObject tc;                                                                             \
        QTEST_SET_MAIN_SOURCE_PATH                                                                 \
        return QTest::qExec(&tc, argc, argv);                                                      \
    }

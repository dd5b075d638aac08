#include "cli/command.h"

#include "cli/exitcodes.h"

#include <cstdio>

void Command::interrupt(int signo) {
    finish(exitcode::Signalled + signo);
}

void Command::finish(int status) {
    if (finished_)
        return;
    finished_ = true;
    cleanup();
    emit done(status);
}

namespace {
void Print(std::FILE* stream, const QString& text) {
    const QByteArray bytes = text.toUtf8();
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stream);
    std::fflush(stream);
}
} // namespace

void PrintOut(const QString& text) {
    Print(stdout, text);
}

void PrintErr(const QString& text) {
    Print(stderr, text);
}

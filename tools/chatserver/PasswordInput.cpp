#include "tools/chatserver/PasswordInput.h"

#include <cstdio>
#include <string>
#include <termios.h>
#include <unistd.h>

using namespace Qt::StringLiterals;

namespace vestrel::chatserver {

namespace {

std::optional<std::string> readLine() {
    std::string line;
    int c = 0;
    while ((c = std::getchar()) != EOF && c != '\n')
        line.push_back(char(c));
    if (c == EOF && line.empty())
        return std::nullopt;
    if (!line.empty() && line.back() == '\r')
        line.pop_back();
    return line;
}

// Asks on the terminal with echo off, restoring it afterwards.
std::optional<std::string> ask(const char* prompt) {
    std::fprintf(stderr, "%s", prompt);
    std::fflush(stderr);
    termios saved{};
    const bool terminal = ::tcgetattr(STDIN_FILENO, &saved) == 0;
    if (terminal) {
        termios quiet = saved;
        quiet.c_lflag &= ~tcflag_t(ECHO);
        ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &quiet);
    }
    auto line = readLine();
    if (terminal) {
        ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &saved);
        std::fprintf(stderr, "\n");
    }
    return line;
}

} // namespace

std::optional<QString> readNewPassword(const QString& account, QString* error) {
    if (!::isatty(STDIN_FILENO)) {
        const auto line = readLine();
        if (!line || line->empty()) {
            *error = u"no password on standard input"_s;
            return std::nullopt;
        }
        return QString::fromStdString(*line);
    }
    const QByteArray prompt = u"Password for %1: "_s.arg(account).toLocal8Bit();
    const auto first = ask(prompt.constData());
    const auto second = first && !first->empty() ? ask("Again: ") : std::nullopt;
    if (!first || first->empty() || !second) {
        *error = u"no password given"_s;
        return std::nullopt;
    }
    if (*first != *second) {
        *error = u"the two passwords differ"_s;
        return std::nullopt;
    }
    return QString::fromStdString(*first);
}

} // namespace vestrel::chatserver

#include "controller/QuitSignals.h"

#include <array>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <stdexcept>
#include <system_error>

#include <QSocketNotifier>

#include <fcntl.h>
#include <unistd.h>

namespace quelmar {

namespace {

constexpr std::array handled = {SIGTERM, SIGINT, SIGHUP};
std::atomic<int> writeEnd{-1};

// Only async-signal-safe calls: the main thread reads the number.
void onSignal(int number) {
    const int saved = errno;
    const auto byte = static_cast<unsigned char>(number);
    [[maybe_unused]] const auto written = ::write(writeEnd.load(), &byte, 1);
    errno = saved;
}

QString nameOf(int number) {
    switch (number) {
    case SIGTERM:
        return QStringLiteral("SIGTERM");
    case SIGINT:
        return QStringLiteral("SIGINT");
    default:
        return QStringLiteral("SIGHUP");
    }
}

} // namespace

QuitSignals::QuitSignals(QObject* parent)
    : QObject(parent) {
    if (::pipe2(pipe_, O_CLOEXEC | O_NONBLOCK) != 0) {
        throw std::system_error(errno, std::generic_category(), "pipe");
    }
    writeEnd = pipe_[1];
    notifier_ = new QSocketNotifier(pipe_[0], QSocketNotifier::Read, this);
    QObject::connect(notifier_, &QSocketNotifier::activated, this, &QuitSignals::drain);
    struct sigaction action {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (const int number : handled) {
        ::sigaction(number, &action, nullptr);
    }
}

QuitSignals::~QuitSignals() {
    for (const int number : handled) {
        std::signal(number, SIG_DFL);
    }
    writeEnd = -1;
    ::close(pipe_[0]);
    ::close(pipe_[1]);
}

void QuitSignals::drain() {
    unsigned char byte = 0;
    while (::read(pipe_[0], &byte, 1) == 1) {
        emit received(nameOf(byte));
    }
}

} // namespace quelmar

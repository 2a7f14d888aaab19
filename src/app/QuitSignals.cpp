#include "app/QuitSignals.h"

#if defined(__unix__)
#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QSocketNotifier>
#include <cerrno>
#include <csignal>
#endif

namespace hushwell {

#if defined(__unix__)

namespace {

int g_sockets[2] = {-1, -1};

// Runs in whatever code the signal interrupted: it keeps that code's errno, and never waits.
// When the socket is full the loop has bytes enough to read already.
void onSignal(int number) {
    const int savedErrno = errno;
    const auto byte = static_cast<unsigned char>(number);
    const ssize_t ignored = ::write(g_sockets[0], &byte, 1);
    (void)ignored;
    errno = savedErrno;
}

}  // namespace

QuitSignals::QuitSignals(QObject* parent) : QObject(parent) {
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, g_sockets) != 0 ||
        ::fcntl(g_sockets[0], F_SETFL, ::fcntl(g_sockets[0], F_GETFL) | O_NONBLOCK) != 0) {
        return;
    }
    m_notifier = new QSocketNotifier(g_sockets[1], QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, &QuitSignals::readSignal);
    struct sigaction action {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (int number : {SIGINT, SIGTERM, SIGHUP}) {
        sigaction(number, &action, nullptr);
    }
}

void QuitSignals::readSignal() {
    unsigned char byte = 0;
    if (::read(g_sockets[1], &byte, 1) == 1) {
        emit received(byte);
    }
}

#else

QuitSignals::QuitSignals(QObject* parent) : QObject(parent) {}

void QuitSignals::readSignal() {}

#endif

}  // namespace hushwell

#include "SignalWatcher.h"

#include <QSocketNotifier>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

#include "utility/log.h"

namespace tf {

namespace {

// The write end for the handler; a plain int is all a handler may touch.
volatile sig_atomic_t g_writeFd = -1;
int g_readFd = -1;

} // namespace

void SignalWatcher::handler(int number) {
    const int savedErrno = errno;
    const unsigned char byte = static_cast<unsigned char>(number);
    if (g_writeFd >= 0) {
        ssize_t ignored = ::write(g_writeFd, &byte, 1);
        (void)ignored;
    }
    errno = savedErrno;
}

SignalWatcher::SignalWatcher(std::initializer_list<int> numbers, QObject* parent) : QObject(parent) {
    if (g_writeFd >= 0) {
        TF_LOG(LOG_ERROR, "signals are watched already");
        return;
    }
    int fds[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds) != 0) {
        TF_LOG(LOG_ERROR, "no socket pair for signals: " << std::strerror(errno));
        return;
    }
    // A full pipe must not block the handler; the signal is then dropped, and
    // one already waiting does the same work.
    ::fcntl(fds[0], F_SETFL, ::fcntl(fds[0], F_GETFL) | O_NONBLOCK);
    g_writeFd = fds[0];
    g_readFd = fds[1];
    m_notifier = new QSocketNotifier(g_readFd, QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, &SignalWatcher::readSignals);

    for (int number : numbers) {
        if (m_count >= static_cast<int>(sizeof m_numbers / sizeof m_numbers[0]))
            break;
        struct sigaction action;
        std::memset(&action, 0, sizeof action);
        action.sa_handler = &SignalWatcher::handler;
        sigemptyset(&action.sa_mask);
        action.sa_flags = SA_RESTART;
        if (::sigaction(number, &action, nullptr) != 0)
            TF_LOG(LOG_ERROR, "signal " << number << " cannot be watched: " << std::strerror(errno));
        else
            m_numbers[m_count++] = number;
    }
}

SignalWatcher::~SignalWatcher() {
    for (int i = 0; i < m_count; ++i)
        ::signal(m_numbers[i], SIG_DFL);
    if (m_notifier) {
        const int writeFd = g_writeFd;
        g_writeFd = -1;
        ::close(writeFd);
        ::close(g_readFd);
        g_readFd = -1;
    }
}

void SignalWatcher::readSignals() {
    unsigned char numbers[16];
    const ssize_t n = ::read(g_readFd, numbers, sizeof numbers);
    for (ssize_t i = 0; i < n; ++i) {
        TF_LOG(LOG_INFO, "signal " << static_cast<int>(numbers[i]) << " received");
        emit signalled(numbers[i]);
    }
}

} // namespace tf

#include "TerminationSignals.h"

#include <QObject>
#include <QSocketNotifier>

#include <cerrno>
#include <csignal>

#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

// The write end of the pipe that carries SIGTERM and SIGINT to the event loop; the
// handler may do nothing but write to it.
int signalPipe = -1;

void forwardSignal(int signal)
{
    const int saved = errno;
    const unsigned char number = static_cast<unsigned char>(signal);
    (void)!::write(signalPipe, &number, 1);
    errno = saved;
}

} // namespace

bool catchTerminationSignals(QObject* owner, const std::function<void(int)>& onSignal)
{
    int fds[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds) != 0)
        return false;
    signalPipe = fds[1];
    auto* notifier = new QSocketNotifier(fds[0], QSocketNotifier::Read, owner);
    QObject::connect(notifier, &QSocketNotifier::activated, owner, [fds, onSignal] {
        unsigned char number = 0;
        if (::read(fds[0], &number, 1) == 1)
            onSignal(number);
    });
    struct sigaction action = {};
    action.sa_handler = forwardSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    ::sigaction(SIGTERM, &action, nullptr);
    ::sigaction(SIGINT, &action, nullptr);
    return true;
}

#include "platform/qt/QtTerminationSignals.h"

#include "platform/runtime/Log.h"

#include <QCoreApplication>
#include <QSocketNotifier>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace platform {
namespace {

int gPipe[2] = {-1, -1};
std::function<void(int)>* gHandler = nullptr;

// Only async-signal-safe work here: the number goes through the pipe.
extern "C" void onSignal(int signalNumber) {
    int saved = errno;
    unsigned char byte = static_cast<unsigned char>(signalNumber);
    [[maybe_unused]] ssize_t n = ::write(gPipe[1], &byte, 1);
    errno = saved;
}

void readSignals() {
    unsigned char byte;
    while (::read(gPipe[0], &byte, 1) == 1)
        if (gHandler && *gHandler) (*gHandler)(byte);
}

bool openPipe() {
    if (gPipe[0] >= 0) return true;
    if (::pipe2(gPipe, O_CLOEXEC | O_NONBLOCK) != 0) {
        logf("termination signals: no pipe (%s); SIGTERM ends the process abruptly", std::strerror(errno));
        return false;
    }
    auto* notifier = new QSocketNotifier(gPipe[0], QSocketNotifier::Read, QCoreApplication::instance());
    QObject::connect(notifier, &QSocketNotifier::activated, notifier, [] { readSignals(); });
    return true;
}

} // namespace

bool QtTerminationSignals::install(std::function<void(int)> handler) {
    if (!QCoreApplication::instance() || !openPipe()) return false;
    if (!gHandler) gHandler = new std::function<void(int)>;
    *gHandler = std::move(handler);
    struct sigaction action {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    sigaction(SIGTERM, &action, nullptr);
    sigaction(SIGINT, &action, nullptr);
    return true;
}

} // namespace platform

#include "cli/StandardOutput.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <poll.h>
#include <unistd.h>

bool StandardOutput::write(const QByteArray &bytes)
{
    if (m_error != 0)
        return false;
    for (qsizetype done = 0; done < bytes.size();) {
        const ssize_t n =
            ::write(STDOUT_FILENO, bytes.constData() + done, std::size_t(bytes.size() - done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            m_error = n < 0 ? errno : EIO;
            return false;
        }
        done += n;
    }
    return true;
}

bool StandardOutput::readerGone() const
{
    return m_error == EPIPE || isReaderGone();
}

QString StandardOutput::error() const
{
    return QString::fromLocal8Bit(strerrordesc_np(m_error) ? strerrordesc_np(m_error) : "");
}

// The write end of a pipe whose readers have all closed it reports an error condition.
bool StandardOutput::isReaderGone()
{
    pollfd out{STDOUT_FILENO, POLLOUT, 0};
    return ::poll(&out, 1, 0) == 1 && (out.revents & POLLERR) != 0;
}

void StandardOutput::endAsSigpipe()
{
    std::fflush(stderr);
    std::signal(SIGPIPE, SIG_DFL);
    ::raise(SIGPIPE);
    ::_exit(128 + SIGPIPE); // where the signal is blocked
}

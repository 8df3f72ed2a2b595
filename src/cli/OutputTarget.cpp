#include "cli/OutputTarget.h"

#include <QDir>
#include <QFileInfo>

#include <unistd.h>

using namespace Qt::StringLiterals;

OutputTarget::OutputTarget(const QString &path)
    : m_path(path)
    , m_file(path)
{}

QString OutputTarget::name() const
{
    return m_path.isEmpty() ? u"standard output"_s : QDir::toNativeSeparators(m_path);
}

bool OutputTarget::open()
{
    if (m_path.isEmpty()) {
        // Bytes pass unchanged (CR LF stays CR LF); the descriptor stays open for others.
        if (!m_direct.open(STDOUT_FILENO, QIODevice::WriteOnly, QFileDevice::DontCloseHandle)) {
            m_error = m_direct.errorString();
            return false;
        }
        return true;
    }
    const QFileInfo target(m_path);
    // QSaveFile would write beside a directory of that name and then fail to replace it.
    if (target.isDir()) {
        m_error = u"It is a folder."_s;
        return false;
    }
    // A pipe or device (/dev/stdout, a FIFO) is written to, never replaced by a file.
    if (target.exists() && !target.isFile()) {
        m_direct.setFileName(m_path);
        if (!m_direct.open(QIODevice::WriteOnly)) {
            m_error = m_direct.errorString();
            return false;
        }
        return true;
    }
    if (!m_file.open(QIODevice::WriteOnly)) {
        m_error = m_file.errorString();
        return false;
    }
    return true;
}

QIODevice &OutputTarget::device()
{
    return m_direct.isOpen() ? static_cast<QIODevice &>(m_direct) : m_file;
}

bool OutputTarget::commit()
{
    if (m_direct.isOpen()) {
        if (!m_direct.flush() || m_direct.error() != QFileDevice::NoError) {
            m_error = m_direct.errorString();
            return false;
        }
        return true;
    }
    if (!m_file.flush() || !m_file.commit()) {
        // Qt gives no reason when the finished file cannot be put in the old one's place.
        m_error = m_file.error() == QFileDevice::UnspecifiedError
                      ? u"The new file could not replace the old one."_s
                      : m_file.errorString();
        return false;
    }
    return true;
}

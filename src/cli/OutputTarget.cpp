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
        if (!m_stdout.open(STDOUT_FILENO, QIODevice::WriteOnly, QFileDevice::DontCloseHandle)) {
            m_error = m_stdout.errorString();
            return false;
        }
        return true;
    }
    // QSaveFile would write beside a directory of that name and then fail to replace it.
    if (QFileInfo(m_path).isDir()) {
        m_error = u"It is a folder."_s;
        return false;
    }
    if (!m_file.open(QIODevice::WriteOnly)) {
        m_error = m_file.errorString();
        return false;
    }
    return true;
}

QIODevice &OutputTarget::device()
{
    return m_path.isEmpty() ? static_cast<QIODevice &>(m_stdout) : m_file;
}

bool OutputTarget::commit()
{
    if (m_path.isEmpty()) {
        if (!m_stdout.flush() || m_stdout.error() != QFileDevice::NoError) {
            m_error = m_stdout.errorString();
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

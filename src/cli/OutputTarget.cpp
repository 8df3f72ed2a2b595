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
    const QFileInfo target(m_path);
    const bool direct =
        m_path.isEmpty() || (target.exists() && !target.isFile() && !target.isDir());
    if (!direct) {
        if (m_file.open())
            return true;
        m_error = m_file.errorString();
        return false;
    }
    // Bytes pass unchanged (CR LF stays CR LF); standard output stays open for others.
    bool opened = false;
    if (m_path.isEmpty()) {
        opened = m_direct.open(STDOUT_FILENO, QIODevice::WriteOnly, QFileDevice::DontCloseHandle);
    } else {
        m_direct.setFileName(m_path);
        opened = m_direct.open(QIODevice::WriteOnly);
    }
    if (!opened)
        m_error = m_direct.errorString();
    return opened;
}

QIODevice &OutputTarget::device()
{
    return m_direct.isOpen() ? static_cast<QIODevice &>(m_direct) : m_file.device();
}

bool OutputTarget::commit()
{
    if (!m_direct.isOpen()) {
        if (!m_file.commit())
            m_error = m_file.errorString();
        return m_error.isEmpty();
    }
    if (!m_direct.flush() || m_direct.error() != QFileDevice::NoError) {
        m_error = m_direct.errorString();
        return false;
    }
    return true;
}

#pragma once

#include <QByteArray>
#include <QString>

// Rows written straight to standard output as they come, each in full before the call
// returns, so that a reader such as `grep -m1` sees a row the moment it is listed and a
// killed run has lost nothing it printed. A reader that went away is told apart from a
// real failure to write.
class StandardOutput
{
public:
    // False when the bytes could not all be written; nothing more is written after that.
    bool write(const QByteArray &bytes);
    bool failed() const { return m_error != 0; }
    // The reader of the pipe went away (the last write met EPIPE, or it is gone already).
    bool readerGone() const;
    QString error() const;

    static bool isReaderGone();
    // Ends the program as a write to a closed pipe ends any program that does not ignore
    // SIGPIPE: silently, with that signal.
    [[noreturn]] static void endAsSigpipe();

private:
    int m_error = 0;
};

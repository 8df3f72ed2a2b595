#pragma once

#include <QString>
#include <QTemporaryFile>

// Replaces a file only by a complete new one. The new content goes to a temporary file
// beside the target, which takes the target's place by one rename once everything written
// has reached the disk; any failure leaves the old file byte-identical and removes the
// temporary one. Only regular files are replaced (a symbolic link is followed), and a file or
// folder whose mode bits forbid writing is refused even where the process could override them
// (root), so a file the user made read-only stays as it is.
class AtomicFile
{
public:
    explicit AtomicFile(const QString &path);
    ~AtomicFile();
    AtomicFile(const AtomicFile &) = delete;
    AtomicFile &operator=(const AtomicFile &) = delete;

    // Checks the target and creates the temporary file, open for writing, with the mode (and,
    // for root, the owner) the old file had. False with errorString() when refused.
    bool open();
    // Where the new content goes; a writer may also close it when done.
    QFileDevice &device() { return m_file; }
    // Checks that every byte written reached the disk, then puts the new file in place.
    // False with errorString() on any failure, the old file then untouched.
    bool commit();
    QString errorString() const { return m_error; }

    // Why `path` may not be replaced or created, in a sentence; "" when it may.
    static QString refusal(const QString &path);

private:
    QString m_path;
    QString m_target; // after following a symbolic link
    QTemporaryFile m_file;
    QString m_error;
};

#pragma once

#include <QString>
#include <QTemporaryFile>

// Replaces a file only by a complete new one. The new content goes to a temporary file
// beside the target, which takes the target's place by one rename once everything written
// has reached the disk; any failure leaves the old file byte-identical and removes the
// temporary one. Only regular files are replaced, and a file or folder whose mode bits forbid
// writing is refused even where the process could override them (root), so a file the user
// made read-only stays as it is.
//
// A symbolic link is followed only where the kernel's protected-links rule would let this
// process follow it: not in a sticky world-writable folder unless the link is the process
// user's own or the folder owner's. The links are followed here rather than by the kernel (the
// new file replaces the link's target, not the link), so the kernel's own rule never applies
// and this one stands in for it, for root too, and for links to folders on the way as well as
// for the last one. No file is ever created through a dangling link, and a file in a sticky
// folder is replaced only by its owner (or by root when it is the folder owner's), so that
// neither a link nor a file another user left there can catch the output.
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

    // What `path` names once its links are followed under the rule above: a path without
    // links, "." or "..", except for a link of /proc that names an open file rather than a
    // path (standard output as /dev/stdout to a pipe), which only the kernel can follow.
    struct Target
    {
        QString path;
        QString refusal; // why the links may not be followed; `path` is then empty
        bool procLink = false;
    };
    static Target follow(const QString &path);

private:
    QString m_path;
    QString m_target; // after following symbolic links
    QTemporaryFile m_file;
    QString m_error;
};

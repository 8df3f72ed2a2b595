#pragma once

#include <QString>

// A real, small file system for tests of full disks: a tmpfs mounted in a mount namespace
// of this process alone, so nothing outside sees it and it goes when the test ends.
namespace SmallDisk {

// Mounts a tmpfs of `bytes` on the folder `dir`. "" on success, else why it cannot (not
// root, no namespaces), for a QSKIP.
QString mount(const QString &dir, qint64 bytes);
// Fills the file system holding `dir` with a file of its own until exactly `leaveFree`
// bytes (a multiple of the page size) are left.
bool fill(const QString &dir, qint64 leaveFree);
void unmount(const QString &dir);

} // namespace SmallDisk

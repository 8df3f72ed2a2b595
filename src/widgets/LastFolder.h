#pragma once

#include <QString>

// The folder a file was last saved to, per use ("Export", "Print", "Compare"), kept in the
// settings store so that the next save dialog opens there, also after a restart.
namespace LastFolder {

// The folder kept for `use`, or "" when none is kept or it is gone.
QString get(const QString &use);
// Keeps the folder of `filePath` for `use`.
void remember(const QString &use, const QString &filePath);

} // namespace LastFolder

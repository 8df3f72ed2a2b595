#pragma once

#include <QObject>

// A window's control by its object name, which is the name the program gives it. A control
// that is not there ends the test at once with its name.
template <typename T> T *control(const QObject *window, const char *name)
{
    T *found = window->findChild<T *>(QLatin1StringView(name));
    if (!found)
        qFatal("no control named %s", name);
    return found;
}

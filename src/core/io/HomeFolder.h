#pragma once

#include <QString>

namespace HomeFolder {

// The folder `variable` names when it holds an absolute path, else `fallback` under the current HOME. A
// relative value would name another folder in every folder the program is started from.
QString fromEnvironment(const char* variable, const QString& fallback);

} // namespace HomeFolder

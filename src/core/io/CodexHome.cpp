#include "core/io/CodexHome.h"

#include "core/io/HomeFolder.h"

namespace CodexHome {

QString path()
{
    return HomeFolder::fromEnvironment("CODEX_HOME", QStringLiteral(".codex"));
}

} // namespace CodexHome

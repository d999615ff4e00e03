#include "core/CodexHome.h"

#include "core/HomeFolder.h"

namespace CodexHome {

QString path()
{
    return HomeFolder::fromEnvironment("CODEX_HOME", QStringLiteral(".codex"));
}

} // namespace CodexHome

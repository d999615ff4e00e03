#include "app/ProcessLife.h"

#include "providers/claude/ClaudeOAuthUsage.h"
#include "providers/claude/ClaudePaths.h"

namespace ProcessLife {

std::optional<QString> startProblem()
{
    return ClaudePaths::ownershipProblem();
}

void finishBeforeExit()
{
    ClaudeOAuthUsage::finishSharedRefresh();
}

} // namespace ProcessLife

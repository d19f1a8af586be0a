#include "ui/controls/XExeCounterUnit.h"

#include "ui/flag/XRegistryUnit.h"

#include <limits>

namespace zx {

std::int32_t ExeCounter(const QString& key)
{
    TNewRegistry registry(TRootKey::CurrentUser);
    if (!registry.OpenKey(key, true))
        return -1;
    const QString name = QStringLiteral("ExeCounter");
    const std::int32_t previous = registry.ReadIntegerDef(name, 0);
    // A counter at its end stays there rather than wrapping round to a
    // negative count.
    const std::int32_t next
        = previous == std::numeric_limits<std::int32_t>::max() ? previous : previous + 1;
    registry.WriteInteger(name, next);
    registry.Flush();
    return previous;
}

} // namespace zx

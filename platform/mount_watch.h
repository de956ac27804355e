#pragma once

#include <QString>

// A stick pulled from the panel is unmounted by the panel's hot-plug script (lazily: what a
// program still holds open stays reachable through it until let go), and one put back is
// mounted anew. Its path then leads into the panel's own disk, to the empty mount point, or to
// the new mount. The kernel numbers every mount, so a program tells the stick it started from by
// the number of its mount.
namespace hix {

// The number of the mount that holds path, or the nearest existing folder on its way; -1 when
// it cannot be told.
int mountIdOf(const QString &path);

// Whether the mount numbered id is still mounted where this process sees its mounts. True when
// it cannot be told.
bool isMounted(int id);

} // namespace hix

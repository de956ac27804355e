#include "directory_library.h"

#include "panel_path.h"

#include <QDebug>

#include <cerrno>
#include <cstring>
#include <ftw.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace {

int removeEntry(const char *path, const struct stat *, int type, struct FTW *)
{
    const int result = (type == FTW_DP) ? rmdir(path) : unlink(path);
    if (result != 0)
        qWarning() << "directory library: cannot remove" << path << strerror(errno);
    return result;
}

} // namespace

const char *Vexo_GetDirectory(int kind)
{
    static thread_local std::string text;
    switch (kind) {
    case VEXO_DIR_APP:
        text = hix::panelPathNative(QStringLiteral("/usr/vexo_app")).toStdString();
        return text.c_str();
    case VEXO_DIR_DATA:
        text = hix::panelPathNative(QStringLiteral("/usr/vexo_app/data")).toStdString();
        return text.c_str();
    default:
        return nullptr;
    }
}

int Vexo_DeleteDirectory(const char *path)
{
    if (!path || !*path || std::strcmp(path, "/") == 0)
        return -1;
    struct stat info;
    if (lstat(path, &info) != 0 || !S_ISDIR(info.st_mode))
        return -1;
    // Depth first, never crossing symbolic links: a link inside the folder is removed, not the
    // folder it points to.
    return nftw(path, removeEntry, 16, FTW_DEPTH | FTW_PHYS) == 0 ? 0 : -1;
}

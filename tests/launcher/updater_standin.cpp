// Stands in for the updater on an emulated stick: records how it was started into
// "started.txt" beside itself, then ends.
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <unistd.h>

int main(int argc, char **argv)
{
    char self[PATH_MAX] = {};
    if (readlink("/proc/self/exe", self, sizeof self - 1) < 0)
        return 2;
    std::string dir(self);
    dir.erase(dir.rfind('/'));

    std::string text = "argc=" + std::to_string(argc) + "\n";
    for (int i = 1; i < argc; ++i)
        text += "arg " + std::to_string(i) + "=" + argv[i] + "\n";
    const char *libraryPath = std::getenv("LD_LIBRARY_PATH");
    text += std::string("LD_LIBRARY_PATH=") + (libraryPath ? libraryPath : "(unset)") + "\n";
    char cwd[PATH_MAX] = {};
    if (getcwd(cwd, sizeof cwd))
        text += std::string("cwd=") + cwd + "\n";

    // Written under another name first, so a reader never sees half a record.
    const std::string part = dir + "/started.part";
    FILE *out = std::fopen(part.c_str(), "w");
    if (!out)
        return 2;
    std::fputs(text.c_str(), out);
    std::fclose(out);
    return std::rename(part.c_str(), (dir + "/started.txt").c_str()) == 0 ? 0 : 2;
}

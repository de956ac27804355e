// The durable floor of an install: the least any updater must do to have a tree on the medium
// and know it arrived. Each file is copied, its data flushed (fdatasync), its cached pages
// dropped and read back for a CRC-32; then each folder is flushed (fsync). Nothing else: no
// description, no staging names, no log. bench/run_bench.sh sets an update against it.
//   durable_floor SOURCE_FOLDER TARGET_FOLDER
#include <zlib.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr size_t BlockSize = 64 * 1024;
char buffer[BlockSize];

[[noreturn]] void fail(const std::string &what)
{
    std::fprintf(stderr, "durable_floor: %s: %s\n", what.c_str(), std::strerror(errno));
    std::exit(1);
}

void copyFile(const std::string &from, const std::string &to)
{
    const int in = ::open(from.c_str(), O_RDONLY | O_CLOEXEC);
    if (in < 0)
        fail(from);
    const int out = ::open(to.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (out < 0)
        fail(to);
    uLong written = crc32(0, nullptr, 0);
    for (;;) {
        const ssize_t n = ::read(in, buffer, sizeof buffer);
        if (n < 0)
            fail(from);
        if (n == 0)
            break;
        written = crc32(written, reinterpret_cast<const Bytef *>(buffer), uInt(n));
        for (ssize_t done = 0; done < n;) {
            const ssize_t w = ::write(out, buffer + done, size_t(n - done));
            if (w < 0)
                fail(to);
            done += w;
        }
    }
    ::close(in);
    if (::fdatasync(out) != 0)
        fail(to);
    ::posix_fadvise(out, 0, 0, POSIX_FADV_DONTNEED);
    if (::lseek(out, 0, SEEK_SET) != 0)
        fail(to);
    uLong read = crc32(0, nullptr, 0);
    for (;;) {
        const ssize_t n = ::read(out, buffer, sizeof buffer);
        if (n < 0)
            fail(to);
        if (n == 0)
            break;
        read = crc32(read, reinterpret_cast<const Bytef *>(buffer), uInt(n));
    }
    ::close(out);
    if (read != written) {
        errno = EIO;
        fail(to + " read back differs");
    }
}

void copyTree(const std::string &from, const std::string &to, std::vector<std::string> &folders)
{
    if (::mkdir(to.c_str(), 0755) != 0 && errno != EEXIST)
        fail(to);
    folders.push_back(to);
    DIR *dir = ::opendir(from.c_str());
    if (!dir)
        fail(from);
    while (const dirent *entry = ::readdir(dir)) {
        const std::string name = entry->d_name;
        if (name == "." || name == "..")
            continue;
        struct stat status;
        if (::stat((from + '/' + name).c_str(), &status) != 0)
            fail(from + '/' + name);
        if (S_ISDIR(status.st_mode))
            copyTree(from + '/' + name, to + '/' + name, folders);
        else
            copyFile(from + '/' + name, to + '/' + name);
    }
    ::closedir(dir);
}

} // namespace

int main(int argc, char **argv)
{
    if (argc != 3) {
        std::fprintf(stderr, "usage: %s SOURCE_FOLDER TARGET_FOLDER\n", argv[0]);
        return 2;
    }
    std::vector<std::string> folders;
    copyTree(argv[1], argv[2], folders);
    // The new names, and the target folder's own name in its parent.
    const std::string target = argv[2];
    const size_t slash = target.find_last_of('/');
    folders.push_back(slash == std::string::npos ? "." : target.substr(0, slash));
    for (const std::string &folder : folders) {
        const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (fd < 0 || ::fsync(fd) != 0)
            fail(folder);
        ::close(fd);
    }
    return 0;
}

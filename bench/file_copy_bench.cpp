// Times one copy list through file_operation_c, or a plain CRC-32 pass over a tree for comparison.
//   file_copy_bench copy <manifest> <source root> <destination root>
//     manifest: one "<relative path>\t<CRC-32 hex>" line per file
//   file_copy_bench crc <folder>
#include "file_io.h"
#include "file_operation.h"

#include <QCoreApplication>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QFile>
#include <QTextStream>

#include <cstdio>
#include <vector>

#include <sys/resource.h>

namespace {

long peakRssKiB()
{
    rusage usage {};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

int runCopy(const QString &manifestPath, const QString &sourceRoot, const QString &destRoot)
{
    QFile manifest(manifestPath);
    if (!manifest.open(QIODevice::ReadOnly | QIODevice::Text)) {
        std::fprintf(stderr, "cannot read %s\n", qPrintable(manifestPath));
        return 2;
    }
    std::vector<copyFileData_s> list;
    QTextStream in(&manifest);
    while (!in.atEnd()) {
        const QStringList fields = in.readLine().split(QLatin1Char('\t'));
        if (fields.size() != 2)
            continue;
        copyFileData_s entry;
        entry.srcPath = sourceRoot + QLatin1Char('/') + fields[0];
        entry.destPath = destRoot + QLatin1Char('/') + fields[0];
        entry.crcValue = fields[1];
        list.push_back(entry);
    }

    file_operation_c ops;
    const long rssBefore = peakRssKiB();
    QElapsedTimer timer;
    timer.start();
    const bool ok = ops.copyFile(list);
    const double seconds = timer.nsecsElapsed() / 1e9;
    std::printf("files=%zu ok=%d seconds=%.3f peak_rss_before_kib=%ld peak_rss_after_kib=%ld\n",
        list.size(), ok ? 1 : 0, seconds, rssBefore, peakRssKiB());
    return ok ? 0 : 1;
}

int runCrc(const QString &folder)
{
    std::vector<char> buffer(1 << 16);
    QDirIterator it(folder, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
    unsigned long files = 0;
    unsigned long combined = 0;
    while (it.hasNext()) {
        quint32 crc = 0;
        if (!hix::io::digestFile(it.next(), &crc, nullptr, nullptr, buffer.data(), buffer.size()))
            return 2;
        combined ^= crc;
        ++files;
    }
    std::printf("files=%lu crc_xor=%08lx\n", files, combined);
    return 0;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() == 5 && args[1] == QLatin1String("copy"))
        return runCopy(args[2], args[3], args[4]);
    if (args.size() == 3 && args[1] == QLatin1String("crc"))
        return runCrc(args[2]);
    std::fprintf(stderr,
        "usage: %s copy <manifest> <source root> <destination root>\n"
        "       %s crc <folder>\n",
        argv[0], argv[0]);
    return 2;
}

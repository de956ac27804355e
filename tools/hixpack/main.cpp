// hixpack: the package author's tool for the files of an update package on the stick.
//
//   hixpack scramble IN OUT            store IN in the scrambled form the panel reads
//   hixpack unscramble IN OUT          turn a scrambled description (INI) back into text; the
//                                      plain text must start with three bytes and "#"
//   hixpack unscramble --file IN OUT   turn any scrambled file back into its plain bytes
//   hixpack crc FILE                   the CRC-32 of FILE as eight upper-case hexadecimal digits,
//                                      the form of a description's CRCVALUE keys
//
// Exit status 0 on success, 1 when the work failed, 2 for a wrong command line.
#include "qsettings_factory.h"

#include <QByteArray>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QString>
#include <QStringList>

#include <cstdio>
#include <zlib.h>

namespace {

constexpr int ExitFailure = 1;
constexpr int ExitUsage = 2;
constexpr qint64 BlockSize = 64 * 1024;

const char *const Usage
    = "usage: hixpack scramble IN OUT\n"
      "       hixpack unscramble [--file] IN OUT\n"
      "       hixpack crc FILE\n"
      "       hixpack --help\n"
      "\n"
      "scramble     store IN in the scrambled form of package files\n"
      "unscramble   restore a scrambled description; its plain text must begin with three\n"
      "             bytes (a UTF-8 byte-order mark) and '#'. With --file any file is restored.\n"
      "crc          print the CRC-32 of FILE as eight upper-case hexadecimal digits\n";

int fail(const QString &message)
{
    std::fprintf(stderr, "hixpack: %s\n", qPrintable(message));
    return ExitFailure;
}

int usageError(const QString &message)
{
    std::fprintf(stderr, "hixpack: %s\n%s", qPrintable(message), Usage);
    return ExitUsage;
}

// The package tool prints only its own messages; the reader's traces stay quiet.
void quietHandler(QtMsgType type, const QMessageLogContext &, const QString &message)
{
    if (type != QtDebugMsg && type != QtInfoMsg)
        std::fprintf(stderr, "hixpack: %s\n", qPrintable(message));
}

bool samePath(const QString &a, const QString &b)
{
    const QString ca = QFileInfo(a).canonicalFilePath();
    const QString cb = QFileInfo(b).canonicalFilePath();
    return !ca.isEmpty() && ca == cb;
}

int checkInputOutput(const QString &in, const QString &out)
{
    if (!QFileInfo(in).isFile())
        return fail(QStringLiteral("cannot read \"%1\": no such file").arg(in));
    if (samePath(in, out))
        return fail(QStringLiteral("\"%1\" would be overwritten by its own result").arg(in));
    return 0;
}

int scramble(const QString &in, const QString &out)
{
    if (int err = checkInputOutput(in, out))
        return err;
    QFile source(in);
    if (!source.open(QIODevice::ReadOnly))
        return fail(QStringLiteral("cannot read \"%1\": %2").arg(in, source.errorString()));
    QSaveFile target(out);
    if (!target.open(QIODevice::WriteOnly))
        return fail(QStringLiteral("cannot write \"%1\": %2").arg(out, target.errorString()));
    while (!source.atEnd()) {
        QByteArray block = source.read(BlockSize);
        if (block.isEmpty() && source.error() != QFileDevice::NoError)
            return fail(QStringLiteral("cannot read \"%1\": %2").arg(in, source.errorString()));
        for (char &c : block)
            c = static_cast<char>(QSettingsFactory::scrambleByte(static_cast<unsigned char>(c)));
        if (target.write(block) != block.size())
            return fail(QStringLiteral("cannot write \"%1\": %2").arg(out, target.errorString()));
    }
    if (!target.commit())
        return fail(QStringLiteral("cannot write \"%1\": %2").arg(out, target.errorString()));
    return 0;
}

int unscramble(const QString &in, const QString &out, CRYPT_TYPE type)
{
    if (int err = checkInputOutput(in, out))
        return err;
    if (QSettingsFactory::decryptFile(in, out, type))
        return 0;
    QFile::remove(out);
    if (type == CRYPT_TYPE_INI)
        return fail(QStringLiteral("\"%1\" is not a scrambled description: its plain text does "
                                   "not begin with three bytes and '#' (use --file for other "
                                   "files)")
                        .arg(in));
    return fail(QStringLiteral("cannot unscramble \"%1\" into \"%2\"").arg(in, out));
}

int crc(const QString &path)
{
    QFile file(path);
    if (!QFileInfo(path).isFile() || !file.open(QIODevice::ReadOnly))
        return fail(QStringLiteral("cannot read \"%1\": no such file").arg(path));
    uLong value = crc32(0L, Z_NULL, 0);
    while (!file.atEnd()) {
        const QByteArray block = file.read(BlockSize);
        if (block.isEmpty() && file.error() != QFileDevice::NoError)
            return fail(QStringLiteral("cannot read \"%1\": %2").arg(path, file.errorString()));
        value = crc32(value, reinterpret_cast<const Bytef *>(block.constData()),
            static_cast<uInt>(block.size()));
    }
    std::printf("%08lX\n", value & 0xFFFFFFFFUL);
    return 0;
}

} // namespace

int main(int argc, char **argv)
{
    qInstallMessageHandler(quietHandler);
    QStringList args;
    for (int i = 1; i < argc; ++i)
        args << QString::fromLocal8Bit(argv[i]);

    if (args.isEmpty())
        return usageError(QStringLiteral("no command given"));
    const QString command = args.takeFirst();
    if (command == QLatin1String("--help") || command == QLatin1String("-h")
        || command == QLatin1String("help")) {
        std::fputs(Usage, stdout);
        return 0;
    }
    if (command == QLatin1String("scramble")) {
        if (args.size() != 2)
            return usageError(QStringLiteral("scramble takes IN and OUT"));
        return scramble(args[0], args[1]);
    }
    if (command == QLatin1String("unscramble")) {
        CRYPT_TYPE type = CRYPT_TYPE_INI;
        if (!args.isEmpty() && args.first() == QLatin1String("--file")) {
            type = CRYPT_TYPE_FILE;
            args.removeFirst();
        }
        if (args.size() != 2)
            return usageError(QStringLiteral("unscramble takes [--file] IN and OUT"));
        return unscramble(args[0], args[1], type);
    }
    if (command == QLatin1String("crc")) {
        if (args.size() != 1)
            return usageError(QStringLiteral("crc takes one FILE"));
        return crc(args[0]);
    }
    return usageError(QStringLiteral("unknown command \"%1\"").arg(command));
}

// hixpack: the package author's tool for the files of an update package on the stick.
//
//   hixpack scramble IN OUT            store IN in the scrambled form the panel reads
//   hixpack unscramble IN OUT          turn a scrambled description (INI) back into text; the
//                                      plain text must start with three bytes and "#"
//   hixpack unscramble --file IN OUT   turn any scrambled file back into its plain bytes
//   hixpack crc FILE                   the CRC-32 of FILE as eight upper-case hexadecimal digits,
//                                      the form of a description's CRCVALUE keys
//   hixpack build [--bin DIR | --target armhf] [--font FILE] [--panel-root DIR] [--no-english]
//                 [--sign KEY] SRC_DIR STICK_DIR
//                                      an update stick from a package source folder
//   hixpack keygen NAME                a signing key pair, NAME.key and NAME.pub
//   hixpack verify [--key PUB] STICK   check a signed stick as a panel with a key does
//   hixpack lint [--no-english] FILE   what the updater would ignore or get wrong in a description
//   hixpack show FILE                  the description's records as the updater reads them, JSON
//
// Exit status 0 on success, 1 when the work failed, 2 for a wrong command line.
#include "description_text.h"
#include "file_crc.h"
#include "multilingual_manager.h"
#include "package_build.h"
#include "package_lint.h"
#include "package_show.h"
#include "package_signing.h"
#include "qsettings_factory.h"

#include <QCoreApplication>
#include <QDir>

#include <QByteArray>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QString>
#include <QStringList>

#include <cstdio>

namespace {

constexpr int ExitFailure = 1;
constexpr int ExitUsage = 2;
constexpr qint64 BlockSize = 64 * 1024;

const char *const Usage
    = "usage: hixpack build [--bin DIR | --target armhf] [--font FILE] [--panel-root DIR]\n"
      "                     [--no-english] [--sign KEY] SRC_DIR STICK_DIR\n"
      "       hixpack keygen NAME\n"
      "       hixpack verify [--key PUB] STICK_DIR\n"
      "       hixpack lint [--no-english] FILE\n"
      "       hixpack show FILE\n"
      "       hixpack scramble IN OUT\n"
      "       hixpack unscramble [--file] IN OUT\n"
      "       hixpack crc FILE\n"
      "       hixpack --help\n"
      "\n"
      "build        make an update stick in STICK_DIR from SRC_DIR, which holds the plain\n"
      "             description \"update.ini\", the files it names and optionally the folders\n"
      "             \"language/\" (*.lan) and \"config/\" (launcher settings). Checks the\n"
      "             description as lint does and builds nothing when it has errors (a\n"
      "             CRCVALUE written that does not match its file included); prints the\n"
      "             warnings; fills in the missing CRCVALUE of every copied file (MODE 0,\n"
      "             path inside the package); writes:\n"
      "               STICK_DIR/upgentry.bin              the launcher, when built\n"
      "               STICK_DIR/vncsetup.bin              the VNC tool, when built\n"
      "               STICK_DIR/hixlib/                   every shared library the\n"
      "                 programs load but the C library, Qt's framebuffer platform\n"
      "                 plug-in and a font for the Chinese texts: the stick needs\n"
      "                 nothing on the panel but the kernel and the C library\n"
      "               STICK_DIR/hixupdateu/update.ini     the description, scrambled\n"
      "               STICK_DIR/hixupdateu/update.manifest  size and SHA-256 of every\n"
      "                 file the update reads from the stick and of every file above\n"
      "               STICK_DIR/hixupdateu/update.sig     with --sign: the signature over\n"
      "                 the description and the manifest\n"
      "               STICK_DIR/hixupdateu/upgrunner.bin  the updater\n"
      "               STICK_DIR/hixupdateu/hixresult      result reporter for programs\n"
      "               STICK_DIR/hixupdateu/...            the package's files\n"
      "               STICK_DIR/language/, STICK_DIR/config/ (a plain\n"
      "                 config/baseUpdate.ini is stored scrambled)\n"
      "               STICK_DIR/language/0001.lan  the English table of every built-in text,\n"
      "                 below the package's own 0001.lan; config/baseUpdate.ini offers it as\n"
      "                 \"ENG\" (--no-english: neither)\n"
      "             The programs, and language/ and config/ when present, come from DIR\n"
      "             (default: the folder of hixpack itself, the build's bin/). An earlier\n"
      "             STICK_DIR/hixupdateu is replaced. Links are followed only when they stay\n"
      "             inside SRC_DIR and do not lead back into their own folders; other links,\n"
      "             FIFOs, sockets and devices are refused.\n"
      "             --target armhf: the programs of the cross build for the panel\n"
      "             (build-armhf/bin beside this build, scripts/cross-armhf.sh).\n"
      "             --font FILE: the font for the Chinese texts (default: Debian's\n"
      "             WenQuanYi Micro Hei, else Zen Hei, else Droid Sans Fallback).\n"
      "             Refuses a package that a FAT32 stick cannot hold: files of 4 GiB\n"
      "             or more, names with < > : \" \\ | ? * or ending in a dot or blank,\n"
      "             names in one folder that differ only in case.\n"
      "             --panel-root DIR: for an emulated panel (HIX_SYSROOT=DIR), put DIR\n"
      "             before every panel path of the description that starts with\n"
      "             \"/usr/vexo_app\" or \"/media/usb0\", commands included.\n"
      "             --sign KEY: sign the stick with the private key KEY (hixpack keygen);\n"
      "             a panel whose key folder holds the public key runs it, and refuses\n"
      "             it once any of its files changes.\n"
      "keygen       make an Ed25519 key pair: NAME.key, the private key that signs (keep\n"
      "             it off the sticks and the panels), and NAME.pub, the public key for\n"
      "             the panels' folder /etc/iot_cfg/hixkeys. Never overwrites a file.\n"
      "verify       check STICK_DIR as the launcher of a panel with keys does before its\n"
      "             first page: the signature by the key in PUB (a .pub file, or a folder\n"
      "             of them; default: the panel's folder, through HIX_SYSROOT), every\n"
      "             listed file unchanged, and no file the panel reads left unlisted.\n"
      "             Exit status 1 when the panel would refuse the stick.\n"
      "lint         check a plain or scrambled description and report, with file and line,\n"
      "             what the updater would silently ignore or get wrong: unknown sections\n"
      "             and keys (\"COMMAND\" where the format says \"COMMOND\"), numbered\n"
      "             entries beyond their count or missing below it, missing gate keys\n"
      "             (SRCPATHn, COMMONDINFOn, PATH), values the INI reader does not read as\n"
      "             written (inner quotes, \";\", backslashes, commas: with what the updater\n"
      "             gets and the quoted form), relative paths where a panel path is needed,\n"
      "             CRCVALUEs that do not match the file, MODE values other than 0, 1, 2,\n"
      "             MODE 2 destinations without their trailing \"/\", text ids no language\n"
      "             table defines or one language file defines and another lacks, programs\n"
      "             missing from the package, scripts with CR LF line ends, text that is not\n"
      "             UTF-8, \"._*\", \".DS_Store\", \"Thumbs.db\" in copied folders, links and\n"
      "             special files the build refuses, names too long to be staged on the\n"
      "             panel, and a built package's files against its manifest.\n"
      "             Warnings: conditions that are read but never checked (CPU_TPYE, ...),\n"
      "             a built package without a manifest.\n"
      "             For a built package: whether it is signed, and by which key; a\n"
      "             signature file that cannot be read is an error.\n"
      "             Relative paths start at the folder of FILE; language files are looked\n"
      "             for in its \"language/\" and \"../language/\", and the English table of\n"
      "             build counts as one unless --no-english is given. Exit status 1 when\n"
      "             it found errors, 0 otherwise.\n"
      "show         print the records of a plain or scrambled description as JSON, read by\n"
      "             the updater's own parser (backup paths as this machine's panel sees them)\n"
      "scramble     store IN in the scrambled form of package files\n"
      "unscramble   restore a scrambled description; its plain text must begin with three\n"
      "             bytes (a UTF-8 byte-order mark) and '#'. With --file any file is restored.\n"
      "crc          print the CRC-32 of FILE as eight upper-case hexadecimal digits\n"
      "\n"
      "Exit status: 0 success, 1 failure (or lint errors), 2 wrong command line.\n";

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
    if (!QFileInfo(path).isFile())
        return fail(QStringLiteral("cannot read \"%1\": no such file").arg(path));
    quint32 value = 0;
    QString error;
    if (!fileCrc32(path, &value, &error))
        return fail(QStringLiteral("cannot read \"%1\": %2").arg(path, error));
    std::printf("%s\n", qPrintable(crcText(value)));
    return 0;
}

int lint(const QString &path, bool english)
{
    QFile file(path);
    if (!QFileInfo(path).isFile() || !file.open(QIODevice::ReadOnly))
        return fail(QStringLiteral("cannot read \"%1\": no such file").arg(path));
    const description_text_c text = description_text_c::fromBytes(file.readAll());
    const QString packageDir = QFileInfo(path).absolutePath();
    package_lint_c checker(text, packageDir, package_lint_c::languageFilesNear(packageDir));
    checker.setDescriptionFile(QFileInfo(path).fileName());
    if (english)
        checker.setEnglishTable(package_build_c::EnglishTable);
    const QVector<package_lint_c::Finding> findings = checker.run();
    for (const package_lint_c::Finding &f : findings)
        std::printf("%s\n", qPrintable(package_lint_c::format(path, f)));
    int errors = package_lint_c::errorCount(findings);
    const int warnings = static_cast<int>(findings.size()) - errors;
    bool brokenSignature = false;
    const QString signature = package_signing::signatureStatus(packageDir, &brokenSignature);
    if (!signature.isEmpty())
        std::printf("%s: %s\n", qPrintable(path), qPrintable(signature));
    errors += brokenSignature ? 1 : 0;
    const QString summary
        = errors == 0 ? QStringLiteral("no errors") : QStringLiteral("%1 error(s)").arg(errors);
    std::printf("%s: %s%s\n", qPrintable(path), qPrintable(summary),
        warnings ? qPrintable(QStringLiteral(", %1 warning(s)").arg(warnings)) : "");
    return errors == 0 ? 0 : ExitFailure;
}

// Takes "--no-english" from the front of the arguments; true when English stays on.
bool takeEnglishOption(QStringList &args)
{
    if (args.isEmpty() || args.first() != QLatin1String("--no-english"))
        return true;
    args.removeFirst();
    return false;
}

int show(const QString &path)
{
    QString error;
    const QByteArray json = package_show_c::recordsJson(path, &error);
    if (json.isEmpty())
        return fail(error);
    std::fwrite(json.constData(), 1, static_cast<size_t>(json.size()), stdout);
    return 0;
}

// The cross build's programs: build-<target>/bin in the folder that holds this build (hixpack
// lies in <build>/bin), or in the current folder.
QString crossBuildBin(const QString &target)
{
    const QString name = QStringLiteral("build-%1/bin").arg(target);
    for (const QString &candidate : QStringList {
             QCoreApplication::applicationDirPath() + QStringLiteral("/../../") + name, name }) {
        if (QFileInfo(candidate + QStringLiteral("/upgrunner.bin")).isFile())
            return QDir(candidate).absolutePath();
    }
    return QString();
}

} // namespace

int main(int argc, char **argv)
{
    qInstallMessageHandler(quietHandler);
    QCoreApplication app(argc, argv);
    hixInitResources();
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
    if (command == QLatin1String("lint")) {
        const bool english = takeEnglishOption(args);
        if (args.size() != 1)
            return usageError(QStringLiteral("lint takes [--no-english] and one FILE"));
        return lint(args[0], english);
    }
    if (command == QLatin1String("keygen")) {
        if (args.size() != 1)
            return usageError(QStringLiteral("keygen takes one NAME"));
        return package_signing::keygen(args[0]);
    }
    if (command == QLatin1String("verify")) {
        QString key;
        const int keyOption = args.indexOf(QStringLiteral("--key"));
        if (keyOption >= 0 && keyOption + 1 < args.size()) {
            key = args.takeAt(keyOption + 1);
            args.removeAt(keyOption);
        }
        if (args.size() != 1 || args.first().startsWith(QLatin1String("--")))
            return usageError(QStringLiteral("verify takes [--key PUB] and one STICK_DIR"));
        return package_signing::verify(args[0], key);
    }
    if (command == QLatin1String("show")) {
        if (args.size() != 1)
            return usageError(QStringLiteral("show takes one FILE"));
        return show(args[0]);
    }
    if (command == QLatin1String("build")) {
        QString binDir = QCoreApplication::applicationDirPath();
        QString panelRoot;
        QString font;
        QString signingKey;
        bool english = true;
        while (args.size() >= 2 && args.first().startsWith(QLatin1String("--"))) {
            const QString option = args.takeFirst();
            if (option == QLatin1String("--no-english"))
                english = false;
            else if (option == QLatin1String("--bin"))
                binDir = args.takeFirst();
            else if (option == QLatin1String("--target")) {
                const QString target = args.takeFirst();
                if (target != QLatin1String("armhf"))
                    return usageError(QStringLiteral("unknown target \"%1\"").arg(target));
                binDir = crossBuildBin(target);
                if (binDir.isEmpty())
                    return fail(QStringLiteral("no cross build for %1 beside \"%2\" "
                                               "(scripts/cross-armhf.sh makes build-%1)")
                                    .arg(target, QCoreApplication::applicationDirPath()));
            } else if (option == QLatin1String("--font"))
                font = args.takeFirst();
            else if (option == QLatin1String("--panel-root"))
                panelRoot = args.takeFirst();
            else if (option == QLatin1String("--sign"))
                signingKey = args.takeFirst();
            else
                return usageError(QStringLiteral("unknown option \"%1\"").arg(option));
        }
        if (args.size() != 2)
            return usageError(QStringLiteral("build takes [--bin DIR | --target armhf] [--font "
                                             "FILE] [--panel-root DIR] [--no-english] [--sign "
                                             "KEY] SRC_DIR and STICK_DIR"));
        package_build_c build(args[0], args[1], binDir);
        build.setPanelRoot(panelRoot);
        build.setFont(font);
        build.setEnglish(english);
        build.setSigningKey(signingKey);
        return build.run();
    }
    return usageError(QStringLiteral("unknown command \"%1\"").arg(command));
}

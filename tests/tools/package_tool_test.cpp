// hixpack build, lint and show, run as the package author runs them.
#include "multilingual_manager.h"
#include "parse_config_info.h"
#include "process_helpers.h"
#include "temp_sysroot.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDir>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QSettings>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <zlib.h>

#include <sys/stat.h>
#include <unistd.h>

namespace {

// The tool's output as text.
struct ToolRun
{
    int exitCode = -1;
    QString out;
    QString err;
};

QString binDir()
{
    return testsupport::binDir();
}

QString exampleDir()
{
    return QStringLiteral(HIX_SOURCE_DIR "/examples/package");
}

ToolRun hixpack(const QStringList &args)
{
    const testsupport::ToolRun raw = testsupport::runTool(binDir() + "/hixpack", args);
    return { raw.exitCode, QString::fromUtf8(raw.out), QString::fromUtf8(raw.err) };
}

void writeFile(const QString &path, const QByteArray &content)
{
    QDir().mkpath(QFileInfo(path).path());
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate)) << qPrintable(path);
    file.write(content);
}

QByteArray readFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QString crcText(const QByteArray &bytes)
{
    const uLong crc = crc32(crc32(0L, Z_NULL, 0), reinterpret_cast<const Bytef *>(bytes.data()),
        static_cast<uInt>(bytes.size()));
    return QStringLiteral("%1").arg(static_cast<quint32>(crc), 8, 16, QLatin1Char('0')).toUpper();
}

QByteArray unscrambledByRule(const QByteArray &scrambled)
{
    QByteArray out = scrambled;
    for (char &c : out) {
        const unsigned s = static_cast<unsigned char>(c);
        c = static_cast<char>((((s << 3) | (s >> 5)) & 0xFFu) ^ 0xA7u);
    }
    return out;
}

struct Expected
{
    int line;
    QString text;
    QString severity = QStringLiteral("error");
};

// The "# expect: TEXT" and "# expect warning: TEXT" markers of a description: each names a
// finding for the next line that is not a marker.
QVector<Expected> expectedFindings(const QByteArray &description)
{
    QVector<Expected> expected;
    QVector<Expected> pending;
    const QList<QByteArray> lines = description.split('\n');
    for (int i = 0; i < lines.size(); ++i) {
        const QString line = QString::fromUtf8(lines[i]);
        if (line.startsWith(QLatin1String("# expect: "))) {
            pending.append({ 0, line.mid(10) });
            continue;
        }
        if (line.startsWith(QLatin1String("# expect warning: "))) {
            pending.append({ 0, line.mid(18), QStringLiteral("warning") });
            continue;
        }
        for (Expected e : pending) {
            e.line = i + 1;
            expected.append(e);
        }
        pending.clear();
    }
    return expected;
}

// A package folder holding the faulty description and the files it names, leftovers included.
class FaultyPackage
{
public:
    FaultyPackage()
    {
        description
            = readFile(QStringLiteral(HIX_SOURCE_DIR "/tests/tools/data/faulty_update.ini"));
        writeFile(path("update.ini"), description);
        writeFile(path("version.txt"), "2.0\n");
        writeFile(path("extra.txt"), "extra\n");
        writeFile(path("assets/logo.png"), "png");
        writeFile(path("assets/._logo.png"), "resource fork");
        writeFile(path("assets/.DS_Store"), "finder");
        writeFile(path("assets/icons/Thumbs.db"), "thumbnails");
        writeFile(path("assets/icons/ok.png"), "ok");
        writeFile(path("setup.sh"), "#!/bin/sh\r\necho set up\r\n");
    }
    QString path(const QString &relative) const { return dir.filePath(relative); }
    QString root() const { return dir.path(); }

    QTemporaryDir dir;
    QByteArray description;
};

void expectFindings(const ToolRun &run, const QString &file, const QVector<Expected> &expected)
{
    EXPECT_EQ(run.exitCode, 1) << qPrintable(run.out + run.err);
    QStringList reported = run.out.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    ASSERT_FALSE(reported.isEmpty());
    const int warnings = int(std::count_if(expected.begin(), expected.end(),
        [](const Expected &e) { return e.severity == QLatin1String("warning"); }));
    const QString summary = reported.takeLast();
    EXPECT_TRUE(summary.endsWith(QStringLiteral(": %1 error(s), %2 warning(s)")
                                     .arg(expected.size() - warnings)
                                     .arg(warnings)))
        << qPrintable(summary);
    for (const Expected &e : expected) {
        const QString prefix = QStringLiteral("%1:%2: %3: ").arg(file).arg(e.line).arg(e.severity);
        const auto found = std::find_if(reported.begin(), reported.end(),
            [&](const QString &line) { return line.startsWith(prefix) && line.contains(e.text); });
        EXPECT_NE(found, reported.end()) << "line " << e.line << ": " << qPrintable(e.text);
        if (found != reported.end())
            reported.erase(found);
    }
    EXPECT_TRUE(reported.isEmpty()) << "unexpected: " << qPrintable(reported.join('\n'));
}

} // namespace

TEST(HixpackLint, Example_IsClean)
{
    const QString file = exampleDir() + "/update.ini";
    const ToolRun run = hixpack({ "lint", file });
    EXPECT_EQ(run.exitCode, 0) << qPrintable(run.out + run.err);
    EXPECT_EQ(run.out, file + ": no errors\n");
}

TEST(HixpackLint, PlantedFaults_EachReportedOnItsLineAndNothingElse)
{
    FaultyPackage package;
    const QVector<Expected> expected = expectedFindings(package.description);
    ASSERT_GE(expected.size(), 20);
    const QString file = package.path("update.ini");
    expectFindings(hixpack({ "lint", file }), file, expected);
}

TEST(HixpackLint, ScrambledDescription_SameFindingsAsItsPlainText)
{
    FaultyPackage package;
    const QString file = package.path("scrambled.ini");
    const QByteArray plain = "\xEF\xBB\xBF" + package.description;
    ASSERT_EQ(
        hixpack({ "scramble", package.path("update.ini"), package.path("plain.tmp") }).exitCode, 0);
    writeFile(package.path("plain.tmp"), plain);
    ASSERT_EQ(hixpack({ "scramble", package.path("plain.tmp"), file }).exitCode, 0);
    expectFindings(hixpack({ "lint", file }), file, expectedFindings(package.description));
}

TEST(HixpackLint, LanguageFileOfThePackage_DefinesItsOwnTextIds)
{
    QTemporaryDir dir;
    writeFile(dir.filePath("hixupdateu/update.ini"),
        "[UPDATE_CONFIG]\nTOOL_TITLE=2900\nFINISH_TIP=2901\n");
    writeFile(dir.filePath("language/0001.lan"), "[2900]\nstring=\"Example package\"\n");
    const ToolRun run = hixpack({ "lint", dir.filePath("hixupdateu/update.ini") });
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_FALSE(run.out.contains("text 2900")) << qPrintable(run.out);
    EXPECT_TRUE(run.out.contains(":3: error: FINISH_TIP = 2901")) << qPrintable(run.out);
}

// Text saved in another code page, and a text id that one language file on the stick defines and
// another lacks: each named with its file and line.
TEST(HixpackLint, TextNotUtf8AndLanguageFilesThatDisagree_ReportedWithFileAndLine)
{
    QTemporaryDir dir;
    const QByteArray gbk = "\xD6\xD0\xCE\xC4"; // "中文" saved in GBK
    writeFile(dir.filePath("update.ini"),
        "[UPDATE_CONFIG]\nTOOL_TITLE=2500\n# " + gbk
            + "\n[DELFILE]\nDELFILENUM=1\n"
              "SRCPATH1=/usr/vexo_app/"
            + gbk + "\n");
    writeFile(dir.filePath("language/0000.lan"), "[2500]\nstring=\"升级包\"\n");
    writeFile(dir.filePath("language/0002.lan"),
        "[2159]\nstring=\"Paket\"\n[2160]\nstring=\"" + gbk + "\"\n");
    const QString file = dir.filePath("update.ini");
    const QString chinese = dir.filePath("language/0000.lan");
    const QString other = dir.filePath("language/0002.lan");

    const ToolRun run = hixpack({ "lint", file });
    EXPECT_EQ(run.exitCode, 1);
    const QStringList expected = {
        file + ":3: warning: this comment is not UTF-8",
        file + ":6: error: this line is not UTF-8",
        chinese
            + ":1: error: text 2500 is defined here but not in language/0001.lan (the "
              "English table hixpack build adds): a panel in that language shows an empty text",
        chinese + ":1: error: text 2500 is defined here but not in language/0002.lan",
        other + ":4: error: this line of the language file is not UTF-8",
    };
    const QStringList lines = run.out.split('\n', Qt::SkipEmptyParts);
    ASSERT_EQ(lines.size(), expected.size() + 1) << qPrintable(run.out);
    for (int i = 0; i < expected.size(); ++i)
        EXPECT_TRUE(lines[i].startsWith(expected[i])) << qPrintable(lines[i]);

    const ToolRun withoutEnglish = hixpack({ "lint", "--no-english", file });
    EXPECT_FALSE(withoutEnglish.out.contains("0001.lan")) << qPrintable(withoutEnglish.out);
    EXPECT_TRUE(withoutEnglish.out.contains("but not in language/0002.lan"));
}

TEST(HixpackLint, MissingFile_FailsWithoutFindings)
{
    const ToolRun run = hixpack({ "lint", "/nonexistent/update.ini" });
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_TRUE(run.err.contains("no such file"));
}

TEST(HixpackBuild, Example_GivesTheStickLayoutWithScrambledDescriptionAndFilledCrc)
{
    QTemporaryDir stick;
    const ToolRun run = hixpack({ "build", "--bin", binDir(), exampleDir(), stick.path() });
    ASSERT_EQ(run.exitCode, 0) << qPrintable(run.out + run.err);

    for (const char *file : { "hixupdateu/upgrunner.bin", "hixupdateu/hixresult",
             "hixupdateu/install_config.sh", "hixupdateu/runtime/bin/vexo_app",
             "hixupdateu/runtime/plugins/imageformats/libqjpeg.so", "hixupdateu/fonts/sans.ttf",
             "config/baseUpdateSet.ini" })
        EXPECT_TRUE(QFileInfo(stick.filePath(file)).isFile()) << file;
    EXPECT_EQ(QFileInfo::exists(stick.filePath("upgentry.bin")),
        QFileInfo::exists(binDir() + "/upgentry.bin"));
    EXPECT_TRUE(QFileInfo(stick.filePath("hixupdateu/install_config.sh")).isExecutable());
    EXPECT_EQ(readFile(stick.filePath("hixupdateu/version.txt")),
        readFile(exampleDir() + "/version.txt"));

    // The launcher reads its language list only scrambled; the list offers English as well.
    EXPECT_EQ(unscrambledByRule(readFile(stick.filePath("config/baseUpdate.ini"))),
        "\xEF\xBB\xBF# languages offered on the launcher's first page\n"
            + readFile(exampleDir() + "/config/baseUpdate.ini")
                  .replace("list=中文", "list=中文,ENG")
                  .replace("id=0000", "id=0000,0001"));

    const QByteArray stored = readFile(stick.filePath("hixupdateu/update.ini"));
    const QByteArray plain = unscrambledByRule(stored);
    ASSERT_TRUE(plain.startsWith("\xEF\xBB\xBF#")) << plain.left(16).toHex().constData();
    EXPECT_TRUE(
        plain.contains("CRCVALUE1=" + crcText(readFile(exampleDir() + "/version.txt")).toLatin1()
            + "\nDESTPATH1=/usr/vexo_app/version.txt"));

    // The updater's own parser reads what the build wrote.
    TempSysroot sysroot;
    QDir().mkpath(sysroot.path("/tmp"));
    ParseConfigInfo parser;
    ASSERT_TRUE(parser.readIni(stick.filePath("hixupdateu/update.ini")));
    EXPECT_EQ(parser.getCopyFileInfo().copyFileData.size(), 3u);
    EXPECT_EQ(parser.getProgramConfigInfo().size(), 1u);

    const ToolRun lint = hixpack({ "lint", stick.filePath("hixupdateu/update.ini") });
    EXPECT_EQ(lint.exitCode, 0) << qPrintable(lint.out);
}

TEST(HixpackBuild, EmptyCrcAndPanelRoot_CrcFilledAndPanelPathsMovedIntoTheRoot)
{
    QTemporaryDir src;
    QTemporaryDir stick;
    writeFile(src.filePath("update.ini"),
        "[COPYFILE]\nCOPYFILENUM=1\nSRCPATH1=a.txt\nCRCVALUE1=\n"
        "DESTPATH1=/usr/vexo_app/a.txt\n"
        "[COMMOND]\nCOMMONDNUM=1\nCOMMONDINFO1=/bin/touch /usr/vexo_app/b /usr/vexo_appx\n");
    writeFile(src.filePath("a.txt"), "content a\n");
    const ToolRun run = hixpack(
        { "build", "--bin", binDir(), "--panel-root", "/panel", src.path(), stick.path() });
    ASSERT_EQ(run.exitCode, 0) << qPrintable(run.out + run.err);
    const QByteArray plain = unscrambledByRule(readFile(stick.filePath("hixupdateu/update.ini")));
    EXPECT_TRUE(plain.contains("\nCRCVALUE1=" + crcText("content a\n").toLatin1() + "\n"))
        << plain.constData();
    EXPECT_TRUE(plain.contains("DESTPATH1=/panel/usr/vexo_app/a.txt\n"));
    EXPECT_TRUE(plain.contains("COMMONDINFO1=/bin/touch /panel/usr/vexo_app/b /usr/vexo_appx\n"));
}

// A CRC value the author wrote that lint calls wrong is wrong for the build too: it says so on
// the line and writes nothing, rather than putting another value in its place.
TEST(HixpackBuild, WrittenCrcThatDoesNotMatch_RefusedOnItsLineLikeLint)
{
    QTemporaryDir src;
    QTemporaryDir stick;
    writeFile(src.filePath("update.ini"),
        "[COPYFILE]\nCOPYFILENUM=1\nSRCPATH1=a.txt\nCRCVALUE1=00000000\n"
        "DESTPATH1=/usr/vexo_app/a.txt\n");
    writeFile(src.filePath("a.txt"), "content a\n");
    const QString expected
        = QStringLiteral(":4: error: CRCVALUE1 = 00000000 does not match \"a.txt\"");
    const ToolRun lint = hixpack({ "lint", src.filePath("update.ini") });
    EXPECT_TRUE(lint.out.contains(expected)) << qPrintable(lint.out);
    const ToolRun run = hixpack({ "build", "--bin", binDir(), src.path(), stick.path() });
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_TRUE(run.err.contains(expected)) << qPrintable(run.err);
    EXPECT_TRUE(QDir(stick.path()).isEmpty());
}

// The English table goes onto every stick below the package's own English texts, and the
// launcher's language list offers it; --no-english leaves both as the package has them.
TEST(HixpackBuild, EnglishTable_OnTheStickUnderThePackagesOwnAndOfferedByTheLauncher)
{
    QTemporaryDir src;
    writeFile(src.filePath("update.ini"), "[UPDATE_CONFIG]\nTOOL_TITLE=2159\nTOOL_TIP=2900\n");
    writeFile(src.filePath("language/0001.lan"),
        "[2159]\nstring=\"Runtime 2.0\"\n[2900]\nstring=\"Brings the runtime to 2.0.\"\n");
    QTemporaryDir stick;
    ASSERT_EQ(hixpack({ "build", "--bin", binDir(), src.path(), stick.path() }).exitCode, 0);

    QSettings english(stick.filePath("language/0001.lan"), QSettings::IniFormat);
    english.setIniCodec("UTF-8");
    EXPECT_EQ(english.value("2159/string").toString(), QString("Runtime 2.0"));
    EXPECT_EQ(english.value("2900/string").toString(), QString("Brings the runtime to 2.0."));
    EXPECT_EQ(english.value("2018/string").toString(), QString("Starting the update..."));
    EXPECT_EQ(english.value("1004/string").toString(), QString("Yes"));

    QTemporaryDir list;
    writeFile(list.filePath("list.ini"),
        unscrambledByRule(readFile(stick.filePath("config/baseUpdate.ini"))));
    QSettings offered(list.filePath("list.ini"), QSettings::IniFormat);
    offered.setIniCodec("UTF-8");
    EXPECT_EQ(offered.value("language_conf/list").toStringList(), QStringList({ "中文", "ENG" }));
    EXPECT_EQ(offered.value("language_conf/id").toStringList(), QStringList({ "0000", "0001" }));

    QTemporaryDir bare;
    writeFile(src.filePath("language/0001.lan"), "[2900]\nstring=\"Own\"\n");
    ASSERT_EQ(
        hixpack({ "build", "--no-english", "--bin", binDir(), src.path(), bare.path() }).exitCode,
        0);
    EXPECT_EQ(readFile(bare.filePath("language/0001.lan")), QByteArray("[2900]\nstring=\"Own\"\n"));
    EXPECT_FALSE(QFileInfo::exists(bare.filePath("config/baseUpdate.ini")));
}

// Every text of the built-in table has an English text on the stick, with the same places for
// what the programs fill in, so no page, button or log line of an English panel is empty.
TEST(EnglishTable, EveryBuiltinTextHasEnglishWithTheSamePlaceholders)
{
    hixInitResources();
    QSettings builtin(":/new/prefix1/resource/lan/0000.lan", QSettings::IniFormat);
    builtin.setIniCodec("UTF-8");
    QSettings english(
        QStringLiteral(HIX_SOURCE_DIR "/resources/lan/0001.lan"), QSettings::IniFormat);
    english.setIniCodec("UTF-8");
    const QStringList ids = builtin.childGroups();
    ASSERT_GE(ids.size(), 183);
    static const QRegularExpression placeholder(QStringLiteral("%[0-9]"));
    const auto placeholders = [](const QString &text) {
        QStringList found;
        auto it = placeholder.globalMatch(text);
        while (it.hasNext())
            found << it.next().captured();
        found.sort();
        return found;
    };
    for (const QString &id : ids) {
        const QString chinese = builtin.value(id + "/string").toString();
        const QString text = english.value(id + "/string").toString();
        EXPECT_FALSE(text.isEmpty()) << "text " << qPrintable(id) << " has no English";
        EXPECT_EQ(placeholders(text), placeholders(chinese)) << "text " << qPrintable(id);
    }
    EXPECT_EQ(english.childGroups().size(), ids.size()) << "English texts of no built-in id";
}

TEST(HixpackBuild, DescriptionWithErrors_NothingWritten)
{
    FaultyPackage package;
    QTemporaryDir stick;
    const ToolRun run = hixpack({ "build", "--bin", binDir(), package.root(), stick.path() });
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_TRUE(run.err.contains("unknown section [COMMAND]")) << qPrintable(run.err);
    EXPECT_TRUE(run.err.contains("nothing built"));
    EXPECT_TRUE(QDir(stick.path()).isEmpty());
}

TEST(HixpackBuild, NoUpdaterInBinFolder_Fails)
{
    QTemporaryDir emptyBin;
    QTemporaryDir stick;
    const ToolRun run = hixpack({ "build", "--bin", emptyBin.path(), exampleDir(), stick.path() });
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_TRUE(run.err.contains("upgrunner.bin")) << qPrintable(run.err);
    EXPECT_FALSE(QFileInfo::exists(stick.filePath("hixupdateu/update.ini")));
}

TEST(HixpackShow, PlainDescription_RecordsAsTheParserReadsThem)
{
    QTemporaryDir dir;
    writeFile(dir.filePath("update.ini"),
        "[UPDATE_CONFIG]\nPROGRAM_NUM=3\nTOOL_TITLE=2159\n"
        "[COPYFILE]\nCOPYFILENUM=2\nSRCPATH2= a.txt \nDESTPATH2=/x/a.txt\nCRCVALUE2=abcdef01\n"
        "[PROGRAM1_CONFIG]\nPATH=one.sh\nPARAM=a,b\n"
        "[PROGRAM3_CONFIG]\nPATH=three.sh\nEXEC_SUCCESS_LATER_ACTION=\n"
        "[UPDATE_FINISH_CONFIG]\nBEEPNUM=4\n");
    const ToolRun run = hixpack({ "show", dir.filePath("update.ini") });
    ASSERT_EQ(run.exitCode, 0) << qPrintable(run.err);
    const QJsonObject root = QJsonDocument::fromJson(run.out.toUtf8()).object();
    const QJsonObject config = root["updateConfig"].toObject();
    EXPECT_EQ(config["programNum"].toInt(), 3);
    EXPECT_TRUE(config["showUpdatePage"].toBool());
    EXPECT_EQ(config["toolTitle"].toString(), "2159");
    const QJsonArray copies = root["copyFileInfo"].toObject()["copyFileData"].toArray();
    ASSERT_EQ(copies.size(), 1);
    EXPECT_EQ(copies[0].toObject()["srcPath"].toString(), "a.txt");
    EXPECT_EQ(copies[0].toObject()["crcValue"].toString(), "ABCDEF01");
    const QJsonArray programs = root["programConfig"].toArray();
    ASSERT_EQ(programs.size(), 2);
    EXPECT_EQ(programs[0].toObject()["param"].toArray().size(), 2);
    EXPECT_EQ(programs[1].toObject()["path"].toString(), "three.sh");
    EXPECT_EQ(programs[1].toObject()["execSuccessLaterAction"].toInt(), 1);
    EXPECT_EQ(root["updateFinishConfig"].toObject()["beepNum"].toInt(), 4);
}

TEST(HixpackShow, BuiltStick_SameRecordsAsItsSourceBesideTheFilledCrc)
{
    QTemporaryDir stick;
    ASSERT_EQ(hixpack({ "build", "--bin", binDir(), exampleDir(), stick.path() }).exitCode, 0);
    const ToolRun source = hixpack({ "show", exampleDir() + "/update.ini" });
    const ToolRun built = hixpack({ "show", stick.filePath("hixupdateu/update.ini") });
    ASSERT_EQ(source.exitCode, 0) << qPrintable(source.err);
    ASSERT_EQ(built.exitCode, 0) << qPrintable(built.err);
    QJsonObject fromSource = QJsonDocument::fromJson(source.out.toUtf8()).object();
    QJsonObject fromStick = QJsonDocument::fromJson(built.out.toUtf8()).object();
    QJsonObject copy = fromStick["copyFileInfo"].toObject();
    QJsonArray entries = copy["copyFileData"].toArray();
    QJsonObject first = entries[0].toObject();
    EXPECT_EQ(first["crcValue"].toString(), crcText(readFile(exampleDir() + "/version.txt")));
    first["crcValue"] = QString();
    entries[0] = first;
    copy["copyFileData"] = entries;
    fromStick["copyFileInfo"] = copy;
    EXPECT_EQ(fromStick, fromSource);
}

TEST(HixpackShow, MissingFile_Fails)
{
    const ToolRun run = hixpack({ "show", "/nonexistent/update.ini" });
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_TRUE(run.err.contains("no such file"));
}

TEST(HixpackBuild, Example_ManifestListsEveryFileTheRunReads_LintChecksTheStickAgainstIt)
{
    QTemporaryDir stick;
    ASSERT_EQ(hixpack({ "build", "--bin", binDir(), exampleDir(), stick.path() }).exitCode, 0);
    const QByteArray manifest = readFile(stick.filePath("hixupdateu/update.manifest"));
    QStringList paths;
    for (const QByteArray &line : manifest.split('\n').mid(1)) {
        if (!line.isEmpty())
            paths << QString::fromUtf8(line).section(QLatin1Char(' '), 2);
    }
    // The copy lists in all three modes and the program, and everything else the build put on
    // the stick, so that one signature covers it all; not the description and the manifest.
    for (const char *read :
        { "hixupdateu/fonts/mono.ttf", "hixupdateu/fonts/sans.ttf", "hixupdateu/install_config.sh",
            "hixupdateu/runtime/bin/vexo_app", "hixupdateu/runtime/lib/libvexo_core.so.2",
            "hixupdateu/runtime/plugins/imageformats/libqjpeg.so", "hixupdateu/version.txt",
            "hixupdateu/fonts/unused/readme.txt", "hixupdateu/upgrunner.bin", "upgentry.bin",
            "language/0001.lan", "config/baseUpdate.ini", "config/baseUpdateSet.ini" })
        EXPECT_TRUE(paths.contains(QLatin1String(read))) << read;
    EXPECT_TRUE(paths.filter(QRegularExpression("^hixlib/plugins/platforms/")).size() > 0);
    EXPECT_FALSE(paths.contains("hixupdateu/update.ini"));
    EXPECT_FALSE(paths.contains("hixupdateu/update.manifest"));
    const QByteArray version = readFile(exampleDir() + "/version.txt");
    EXPECT_TRUE(manifest.startsWith("hix-manifest 1\n"));
    EXPECT_TRUE(
        manifest.contains(QCryptographicHash::hash(version, QCryptographicHash::Sha256).toHex()
            + ' ' + QByteArray::number(version.size()) + " hixupdateu/version.txt\n"));

    // A file cut short on the stick after the build.
    const QString description = stick.filePath("hixupdateu/update.ini");
    writeFile(stick.filePath("hixupdateu/fonts/sans.ttf"), "cut");
    ToolRun lint = hixpack({ "lint", description });
    EXPECT_EQ(lint.exitCode, 1);
    EXPECT_TRUE(
        lint.out.contains("\"hixupdateu/fonts/sans.ttf\" is not the file the manifest lists"))
        << qPrintable(lint.out);

    // Without a manifest the package runs as it is found, and lint says so.
    QFile::remove(stick.filePath("hixupdateu/update.manifest"));
    lint = hixpack({ "lint", description });
    EXPECT_EQ(lint.exitCode, 0) << qPrintable(lint.out);
    EXPECT_TRUE(lint.out.contains(description + ":0: warning: no \"update.manifest\""))
        << qPrintable(lint.out);
}

TEST(HixpackBuild, FifoOrLinksLeavingThePackage_Refused_InnerLinkCopiedAsItsFile)
{
    QTemporaryDir src;
    QTemporaryDir outside;
    QTemporaryDir stick;
    writeFile(src.filePath("update.ini"),
        "[COPYFILE]\nCOPYFILENUM=1\nSRCPATH1=lib\nDESTPATH1=/usr/vexo_app/lib\nMODE1=1\n");
    writeFile(src.filePath("lib/libx.so.1"), "x");
    writeFile(outside.filePath("shadow"), "root:$6$hash");
    ASSERT_EQ(
        ::symlink("libx.so.1", QFile::encodeName(src.filePath("lib/libx.so")).constData()), 0);
    ASSERT_EQ(::mkfifo(QFile::encodeName(src.filePath("lib/pipe")).constData(), 0644), 0);
    ASSERT_EQ(::symlink(QFile::encodeName(outside.path()).constData(),
                  QFile::encodeName(src.filePath("etc")).constData()),
        0);
    ASSERT_EQ(::symlink("..", QFile::encodeName(src.filePath("lib/up")).constData()), 0);

    const ToolRun lint = hixpack({ "lint", src.filePath("update.ini") });
    EXPECT_EQ(lint.exitCode, 1);
    for (const char *finding : { "\"lib/pipe\" is neither a file nor a folder",
             "\"etc\" is a link that leads out of the package", "\"lib/up\" is a link back" })
        EXPECT_TRUE(lint.out.contains(finding)) << finding << "\n" << qPrintable(lint.out);

    ToolRun build = hixpack({ "build", "--bin", binDir(), src.path(), stick.path() });
    EXPECT_EQ(build.exitCode, 1) << qPrintable(build.out + build.err);
    EXPECT_TRUE(build.err.contains("nothing built"));
    EXPECT_TRUE(QDir(stick.path()).isEmpty());

    QFile::remove(src.filePath("lib/pipe"));
    QFile::remove(src.filePath("etc"));
    QFile::remove(src.filePath("lib/up"));
    build = hixpack({ "build", "--bin", binDir(), src.path(), stick.path() });
    ASSERT_EQ(build.exitCode, 0) << qPrintable(build.out + build.err);
    const QFileInfo copied(stick.filePath("hixupdateu/lib/libx.so"));
    EXPECT_TRUE(copied.isFile() && !copied.isSymLink());
    EXPECT_EQ(readFile(copied.filePath()), "x");
}

TEST(HixpackLint, NamesTooLongToStage_Reported)
{
    QTemporaryDir dir;
    const QString longName = QString(252, QLatin1Char('n'));
    writeFile(dir.filePath("hixupdateu/update.ini"),
        "[COPYFILE]\nCOPYFILENUM=2\nSRCPATH1=a\nDESTPATH1=/usr/vexo_app/" + longName.toUtf8()
            + "\nSRCPATH2=fonts\nDESTPATH2=/usr/vexo_app/fonts\nMODE2=1\n");
    writeFile(dir.filePath("hixupdateu/a"), "a");
    writeFile(dir.filePath("hixupdateu/fonts/" + QString(248, QLatin1Char('f'))), "f");
    writeFile(dir.filePath("hixupdateu/fonts/ok.ttf"), "f");
    const ToolRun run = hixpack({ "lint", dir.filePath("hixupdateu/update.ini") });
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_TRUE(run.out.contains(":4: error: \"" + longName + "\" is too long to be staged"))
        << qPrintable(run.out);
    EXPECT_TRUE(run.out.contains(
        ":5: error: \"fonts/" + QString(248, QLatin1Char('f')) + "\" is too long to be staged"))
        << qPrintable(run.out);
    EXPECT_FALSE(run.out.contains("ok.ttf"));
}

TEST(HixpackSign, SignedStick_VerifiedByItsKeyUntilAnyFileChanges)
{
    QTemporaryDir work;
    const QString key = work.filePath("author");
    const ToolRun keygen = hixpack({ "keygen", key });
    ASSERT_EQ(keygen.exitCode, 0) << qPrintable(keygen.err);
    EXPECT_EQ(QFileInfo(key + ".key").permissions()
            & ~(QFile::ReadOwner | QFile::WriteOwner | QFile::ReadUser | QFile::WriteUser),
        QFileDevice::Permissions());
    EXPECT_EQ(hixpack({ "keygen", key }).exitCode, 1);
    const QString stick = work.filePath("stick");
    const ToolRun build
        = hixpack({ "build", "--bin", binDir(), "--sign", key + ".key", exampleDir(), stick });
    ASSERT_EQ(build.exitCode, 0) << qPrintable(build.err);
    const auto verify = [&](const QString &publicKey) {
        return hixpack({ "verify", stick, "--key", publicKey });
    };
    ToolRun verified = verify(key + ".pub");
    EXPECT_EQ(verified.exitCode, 0) << qPrintable(verified.err);
    EXPECT_TRUE(
        hixpack({ "lint", stick + "/hixupdateu/update.ini" }).out.contains("signed by key"));

    struct Tamper
    {
        const char *file;
        const char *reason;
    };
    const Tamper tampering[] = {
        { "hixupdateu/update.ini", "does not match" },
        { "hixupdateu/update.manifest", "does not match" },
        { "hixupdateu/update.sig", "does not match" },
        { "hixupdateu/version.txt", "\"hixupdateu/version.txt\" is not the file" },
        { "hixupdateu/install_config.sh", "\"hixupdateu/install_config.sh\" is not the file" },
        { "hixupdateu/upgrunner.bin", "\"hixupdateu/upgrunner.bin\" is not the file" },
        { "upgentry.bin", "\"upgentry.bin\" is not the file" },
        { "language/0001.lan", "\"language/0001.lan\" is not the file" },
        { "hixupdateu/runtime/bin/added", "\"hixupdateu/runtime/bin/added\" is not in the signed" },
        { "language/0002.lan", "\"language/0002.lan\" is not in the signed" },
    };
    for (const Tamper &t : tampering) {
        const QString path = stick + '/' + t.file;
        const bool existed = QFileInfo::exists(path);
        const QByteArray original = readFile(path);
        QByteArray changed = original.isEmpty() ? QByteArray("new\n") : original;
        // The last hex digit of the signature, else the last byte: one byte changed.
        changed[changed.size() - 2] = changed.at(changed.size() - 2) == '0' ? '1' : '0';
        writeFile(path, changed);
        const ToolRun refused = verify(key + ".pub");
        EXPECT_EQ(refused.exitCode, 1) << t.file;
        EXPECT_TRUE(refused.err.contains(t.reason)) << t.file << ": " << qPrintable(refused.err);
        if (existed)
            writeFile(path, original);
        else
            QFile::remove(path);
    }
    EXPECT_EQ(verify(key + ".pub").exitCode, 0);

    ASSERT_EQ(hixpack({ "keygen", work.filePath("other") }).exitCode, 0);
    const ToolRun otherKey = verify(work.filePath("other.pub"));
    EXPECT_EQ(otherKey.exitCode, 1);
    EXPECT_TRUE(otherKey.err.contains("which is not trusted")) << qPrintable(otherKey.err);

    ASSERT_EQ(hixpack({ "build", "--bin", binDir(), exampleDir(), stick }).exitCode, 0);
    const ToolRun unsigned_ = verify(key + ".pub");
    EXPECT_EQ(unsigned_.exitCode, 1);
    EXPECT_TRUE(unsigned_.err.contains("not signed")) << qPrintable(unsigned_.err);
    EXPECT_TRUE(hixpack({ "lint", stick + "/hixupdateu/update.ini" }).out.contains("not signed"));
}

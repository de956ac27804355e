// The package guide's examples taken from docs/package-guide.md exactly as printed: the table of
// how a value is read is read by the updater's own parser, the printed example package and the
// shell commands are built with hixpack and run by the real updater on an emulated panel, and
// every printed fragment passes lint.
#include "parse_config_info.h"
#include "process_helpers.h"
#include "temp_sysroot.h"

#include <QDirIterator>
#include <QProcess>
#include <QProcessEnvironment>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace testsupport;

namespace {

const QString SourceDir = QStringLiteral(HIX_SOURCE_DIR);

QStringList guideLines()
{
    return QString::fromUtf8(readAll(SourceDir + "/docs/package-guide.md")).split('\n');
}

// The indented blocks that follow each "<!-- example: NAME -->" marker, in the guide's order.
QStringList guideBlocks(const QString &name)
{
    const QStringList lines = guideLines();
    const QString marker = QStringLiteral("<!-- example: %1 -->").arg(name);
    QStringList blocks;
    for (int i = 0; i < lines.size(); ++i) {
        if (lines[i] != marker)
            continue;
        int j = i + 1;
        while (j < lines.size() && lines[j].isEmpty())
            ++j;
        QStringList block;
        for (; j < lines.size() && (lines[j].startsWith("    ") || lines[j].isEmpty()); ++j)
            block << lines[j].mid(4);
        while (!block.isEmpty() && block.last().isEmpty())
            block.removeLast();
        blocks << block.join('\n') + '\n';
    }
    return blocks;
}

struct TableRow
{
    QString written;
    QString gets;
    bool works;
};

// The rows of the table "You write | The updater gets | Why", code spans unwrapped, "\|" as "|".
QVector<TableRow> valueTable()
{
    QVector<TableRow> rows;
    const QStringList lines = guideLines();
    int i = lines.indexOf("| You write | The updater gets | Why |");
    if (i < 0)
        return rows;
    for (i += 2; i < lines.size() && lines[i].startsWith('|'); ++i) {
        QString line = lines[i];
        line.replace("\\|", QChar(0x1F));
        const QStringList cells = line.split('|');
        const auto code = [](QString cell) {
            cell = cell.trimmed();
            cell = cell.mid(1, cell.size() - 2); // the backticks
            return cell.replace(QChar(0x1F), '|').replace("<TAB>", "\t");
        };
        rows.append({ code(cells[1]), code(cells[2]), cells[3].contains("the form that works") });
    }
    return rows;
}

ToolRun hixpack(const QStringList &args)
{
    return runTool(binDir() + "/hixpack", args);
}

// An emulated panel made from one of the example panels, with a stick built by hixpack.
class GuidePanel
{
public:
    explicit GuidePanel(const QString &panel)
    {
        copyTree(SourceDir + "/examples/" + panel, sysroot.root());
        QDir().mkpath(sysroot.path("/run/vexo-hal"));
        QDir().mkpath(sysroot.path("/tmp"));
    }

    // Builds the description with the files of sourceFiles (a folder, or none) onto the stick.
    ToolRun build(const QString &description, const QString &sourceFiles = QString())
    {
        QTemporaryDir source;
        if (!sourceFiles.isEmpty())
            copyTree(sourceFiles, source.path());
        writeAll(source.filePath("update.ini"), description.toUtf8());
        return hixpack(
            { "build", "--bin", binDir(), "--panel-root", sysroot.root(), source.path(), stick() });
    }

    // Runs the updater from the stick as the launcher starts it, window hidden, until the log
    // holds one of the lines; the updater then waits for its restart button and is ended.
    QString runUntil(const QStringList &lastLines)
    {
        writeAll(stick() + "/upgradeProcess.log", "[失败]\n------------------------\n");
        QProcess updater;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert("HIX_SYSROOT", sysroot.root());
        environment.insert("QT_QPA_PLATFORM", "offscreen");
        environment.remove("VEXO_PROJECT_DIR");
        environment.remove("VEXO_EXPORT_DIR");
        updater.setProcessEnvironment(environment);
        updater.setWorkingDirectory(stick() + "/hixupdateu");
        updater.start(stick() + "/hixupdateu/upgrunner.bin",
            { "-execond 0", "-lanID 0000", "-title t", "-showUpdatePage 0" });
        updater.waitForStarted(5000);
        QDeadlineTimer deadline(30000);
        QString log;
        while (!deadline.hasExpired()) {
            log = QString::fromUtf8(readAll(stick() + "/upgradeProcess.log"));
            if (std::any_of(lastLines.begin(), lastLines.end(),
                    [&](const QString &line) { return log.contains(line + '\n'); }))
                break;
            QThread::msleep(50);
        }
        endProcess(updater.processId());
        updater.waitForFinished(5000);
        return log;
    }

    QString stick() const { return sysroot.path("/media/usb0"); }

    TempSysroot sysroot;
};

const QString Succeeded = QStringLiteral("升级成功，请点击重启生效。");
const QString CommandsFailed = QStringLiteral("命令执行失败！");

} // namespace

// Each row of the table is what the updater's parser makes of the line as printed, and lint
// reports every row but the one that shows the form that works.
TEST(GuideExamples, ValueTable_EachLineReadAsPrinted_LintReportsAllButTheFormThatWorks)
{
    const QVector<TableRow> rows = valueTable();
    ASSERT_GE(rows.size(), 5);
    TempSysroot sysroot;
    QDir().mkpath(sysroot.path("/tmp"));
    for (const TableRow &row : rows) {
        const bool command = row.written.startsWith("COMMONDINFO1=");
        const QString description
            = (command ? "[COMMOND]\nCOMMONDNUM=1\n" : "[DELFILE]\nDELFILENUM=1\n") + row.written
            + '\n';
        const QString plain = sysroot.path("/plain.ini");
        ASSERT_TRUE(writeAll(plain, "\xEF\xBB\xBF# guide\n" + description.toUtf8()));
        ASSERT_EQ(hixpack({ "scramble", plain, sysroot.path("/update.ini") }).exitCode, 0);
        ParseConfigInfo parser;
        ASSERT_TRUE(parser.readIni(sysroot.path("/update.ini")));
        const QString got = command ? parser.getCommondInfo().at(0).commond
                                    : parser.getDeleteFileInfo().at(0).srcPath;
        EXPECT_EQ(got, row.gets) << qPrintable(row.written);

        const ToolRun lint = hixpack({ "lint", plain });
        EXPECT_EQ(lint.exitCode, row.works ? 0 : 1) << qPrintable(row.written) << "\n"
                                                    << lint.out.constData();
    }
}

// The shell commands as printed: on a panel with runtime 2.0 both run and the redirection
// writes its file; on a panel with 1.0 the version check stops the list.
TEST(GuideExamples, ShellCommands_PassOnTheirPanelAndStopTheListOnAnother)
{
    const QStringList blocks = guideBlocks("shell-commands");
    ASSERT_EQ(blocks.size(), 1);

    GuidePanel updated("panel-expected");
    const ToolRun built = updated.build(blocks[0]);
    ASSERT_EQ(built.exitCode, 0) << built.err.constData();
    const QString log = updated.runUntil({ Succeeded, CommandsFailed });
    EXPECT_TRUE(log.contains(Succeeded)) << qPrintable(log);
    const QStringList libraries
        = QDir(updated.sysroot.path("/usr/vexo_app/lib")).entryList(QDir::Files, QDir::Name);
    ASSERT_FALSE(libraries.isEmpty());
    EXPECT_EQ(QString::fromUtf8(readAll(updated.sysroot.path("/usr/vexo_app/log/libraries.txt"))),
        libraries.join('\n') + '\n');

    GuidePanel old("panel");
    QDir().mkpath(old.sysroot.path("/usr/vexo_app/log"));
    ASSERT_EQ(old.build(blocks[0]).exitCode, 0);
    const QString oldLog = old.runUntil({ Succeeded, CommandsFailed });
    EXPECT_TRUE(oldLog.contains(CommandsFailed)) << qPrintable(oldLog);
    EXPECT_FALSE(QFileInfo::exists(old.sysroot.path("/usr/vexo_app/log/libraries.txt")));
}

// The example package as the guide prints it: every printed line is a line of the example's own
// description, and run with the example's files it brings the panel to panel-expected.
TEST(GuideExamples, ExamplePackage_AsPrinted_IsTheExampleAndUpdatesThePanel)
{
    const QStringList blocks = guideBlocks("example-package");
    ASSERT_EQ(blocks.size(), 1);
    const QStringList example
        = QString::fromUtf8(readAll(SourceDir + "/examples/package/update.ini")).split('\n');
    QString section;
    QStringList exampleLines; // "[SECTION] KEY=VALUE" of the example
    for (const QString &line : example) {
        if (line.startsWith('['))
            section = line;
        else if (line.contains('=') && !line.startsWith('#'))
            exampleLines << section + ' ' + line;
    }
    section.clear();
    for (const QString &line : blocks[0].split('\n')) {
        if (line.startsWith('[')) {
            section = line;
        } else if (!line.isEmpty()) {
            EXPECT_TRUE(exampleLines.contains(section + ' ' + line)) << qPrintable(line);
        }
    }

    GuidePanel panel("panel");
    const ToolRun built = panel.build(blocks[0], SourceDir + "/examples/package");
    ASSERT_EQ(built.exitCode, 0) << built.err.constData();
    const QString log = panel.runUntil({ Succeeded, QStringLiteral("失败！") });
    EXPECT_TRUE(log.contains(Succeeded)) << qPrintable(log);

    const QString expected = SourceDir + "/examples/panel-expected/usr/vexo_app";
    QDirIterator it(expected, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString file = it.next();
        EXPECT_EQ(
            readAll(panel.sysroot.path("/usr/vexo_app/") + QDir(expected).relativeFilePath(file)),
            readAll(file))
            << qPrintable(file);
    }
}

// The fragments are parts of a description: with the program sections they name completed by
// a PROGRAM_NUM and a program path, each passes lint as printed.
TEST(GuideExamples, Fragments_PassLint)
{
    const QStringList blocks = guideBlocks("fragment");
    ASSERT_GE(blocks.size(), 2);
    for (const QString &block : blocks) {
        int programs = 0;
        static const QRegularExpression program(
            "^\\[PROGRAM([0-9]+)_", QRegularExpression::MultilineOption);
        auto it = program.globalMatch(block);
        while (it.hasNext())
            programs = std::max(programs, it.next().captured(1).toInt());
        QString description = QStringLiteral("[UPDATE_CONFIG]\nPROGRAM_NUM=%1\n").arg(programs);
        for (int n = 1; n <= programs; ++n)
            if (!block.contains(QStringLiteral("[PROGRAM%1_CONFIG]").arg(n)))
                description += QStringLiteral("[PROGRAM%1_CONFIG]\nPATH=/bin/true\n").arg(n);
        QTemporaryDir dir;
        writeAll(dir.filePath("update.ini"), (description + block).toUtf8());
        if (block.contains("PATH=installer"))
            writeAll(dir.filePath("installer"), "#!/bin/sh\n");
        const ToolRun lint = hixpack({ "lint", dir.filePath("update.ini") });
        EXPECT_EQ(lint.exitCode, 0) << qPrintable(block) << lint.out.constData();
    }
}

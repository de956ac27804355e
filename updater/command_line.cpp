#include "command_line.h"

namespace {

// The text after the first blank of arg, or a null string when arg has no blank.
QString afterFirstBlank(const QString &arg)
{
    const int blank = arg.indexOf(QLatin1Char(' '));
    return blank < 0 ? QString() : arg.mid(blank + 1);
}

} // namespace

CommandLine CommandLine::parse(const QStringList &args)
{
    CommandLine line;
    for (const QString &arg : args) {
        if (arg.contains(QLatin1String("-execond"))) {
            const QString value = afterFirstBlank(arg);
            if (!value.isNull())
                line.execCond = value.trimmed().toInt();
        }
        if (arg.contains(QLatin1String("-lanID"))) {
            const QStringList pieces = arg.split(QLatin1Char(' '));
            if (pieces.size() >= 2)
                line.lanID = pieces.at(1);
        }
        if (arg.contains(QLatin1String("-title"))) {
            const QString value = afterFirstBlank(arg);
            if (!value.isNull())
                line.title = value;
        }
        if (arg.contains(QLatin1String("-showUpdatePage"))) {
            const QString value = afterFirstBlank(arg);
            if (!value.isNull())
                line.showUpdatePage = value.trimmed().toInt() != 0;
        }
    }
    return line;
}

CommandLine CommandLine::parse(int argc, char **argv)
{
    QStringList args;
    for (int i = 1; i < argc; ++i)
        args << QString::fromUtf8(argv[i]);
    return parse(args);
}

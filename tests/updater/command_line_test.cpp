#include "command_line.h"

#include <gtest/gtest.h>

TEST(CommandLine, NoArguments_GivesTheDefaults)
{
    const CommandLine line = CommandLine::parse(QStringList());
    EXPECT_EQ(line.execCond, 0);
    EXPECT_TRUE(line.lanID.isEmpty());
    EXPECT_TRUE(line.title.isEmpty());
    EXPECT_TRUE(line.showUpdatePage);
}

TEST(CommandLine, LauncherArguments_OneArgumentPerOptionAndValue)
{
    const CommandLine line = CommandLine::parse(
        { "-execond 1", "-lanID 0001", "-title Base update package", "-showUpdatePage 0" });
    EXPECT_EQ(line.execCond, 1);
    EXPECT_EQ(line.lanID, QStringLiteral("0001"));
    EXPECT_EQ(line.title, QStringLiteral("Base update package"));
    EXPECT_FALSE(line.showUpdatePage);
}

TEST(CommandLine, Execond_ValuesAndMissingValue)
{
    EXPECT_EQ(CommandLine::parse({ "-execond 2" }).execCond, 2);
    EXPECT_EQ(CommandLine::parse({ "-execond" }).execCond, 0);
    EXPECT_EQ(CommandLine::parse({ "-execond 1", "-execond" }).execCond, 1);
    EXPECT_EQ(CommandLine::parse({ "-execond abc" }).execCond, 0);
    // The option and its value as two arguments: the value alone is no option.
    EXPECT_EQ(CommandLine::parse({ "-execond", "1" }).execCond, 0);
}

TEST(CommandLine, LanId_SecondPieceOfTheArgument)
{
    EXPECT_TRUE(CommandLine::parse({ "-lanID" }).lanID.isEmpty());
    EXPECT_EQ(CommandLine::parse({ "-lanID 0003 extra" }).lanID, QStringLiteral("0003"));
    // Blanks are not merged: an empty second piece gives an empty number.
    EXPECT_TRUE(CommandLine::parse({ "-lanID  0003" }).lanID.isEmpty());
}

TEST(CommandLine, Title_EverythingAfterTheFirstBlank)
{
    EXPECT_EQ(
        CommandLine::parse({ "-title  two  blanks " }).title, QStringLiteral(" two  blanks "));
    EXPECT_EQ(CommandLine::parse({ "-title 升级 工具" }).title, QStringLiteral("升级 工具"));
    EXPECT_TRUE(CommandLine::parse({ "-title" }).title.isEmpty());
}

TEST(CommandLine, ShowUpdatePage_ZeroHidesOptionAloneKeepsDefault)
{
    EXPECT_FALSE(CommandLine::parse({ "-showUpdatePage 0" }).showUpdatePage);
    EXPECT_TRUE(CommandLine::parse({ "-showUpdatePage 5" }).showUpdatePage);
    EXPECT_TRUE(CommandLine::parse({ "-showUpdatePage" }).showUpdatePage);
    EXPECT_TRUE(CommandLine::parse({ "-showUpdatePage 0", "-showUpdatePage 1" }).showUpdatePage);
}

TEST(CommandLine, OptionsAreFoundAnywhereInAnArgument)
{
    const CommandLine line = CommandLine::parse({ "x-execond 1", "--lanID 0002" });
    EXPECT_EQ(line.execCond, 1);
    EXPECT_EQ(line.lanID, QStringLiteral("0002"));
    // Case matters.
    EXPECT_EQ(CommandLine::parse({ "-EXECOND 1" }).execCond, 0);
}

TEST(CommandLine, ArgvForm_SkipsTheProgramName)
{
    char program[] = "-execond 1";
    char option[] = "-lanID 0004";
    char *argv[] = { program, option, nullptr };
    const CommandLine line = CommandLine::parse(2, argv);
    EXPECT_EQ(line.execCond, 0);
    EXPECT_EQ(line.lanID, QStringLiteral("0004"));
}

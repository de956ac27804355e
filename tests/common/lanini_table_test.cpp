// The VNC tool's compiled-in language table: every text it shows must come out of the resource
// exactly as the operator is meant to read it.
#include "multilingual_manager.h"

#include <QFile>
#include <QMap>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

const QString kBuiltin = QStringLiteral(":/new/prefix1/resource/lan/0000.lanini");

QMap<int, QString> expectedTexts()
{
    return {
        { 1000, QStringLiteral("警告") },
        { 1001, QStringLiteral("提示") },
        { 1002, QStringLiteral("错误") },
        { 1003, QStringLiteral("确认") },
        { 1004, QStringLiteral("是") },
        { 1005, QStringLiteral("否") },
        { 1006, QStringLiteral("取消") },
        { 1007, QStringLiteral("返回") },
        { 1008, QStringLiteral("正在退出到系统设置界面，请稍候...") },
        { 1009, QStringLiteral("正在退出应用程序，请稍候...") },
        { 1010, QStringLiteral("系统重启失败!%1") },
        { 1011, QStringLiteral("HIX密码输入") },
        { 1012, QStringLiteral("密码最大长度为20个字符!") },
        { 1013, QStringLiteral("密码输入错误!") },
        { 1014, QStringLiteral("请输入密码:") },
        { 2986, QStringLiteral("密码不正确！") },
        { 2987, QStringLiteral("输入密码不一致") },
        { 2988, QStringLiteral("请输入旧密码！") },
        { 2989, QStringLiteral("密码不正确！") },
        { 2990, QStringLiteral("请输入新密码！") },
        { 2991, QStringLiteral("请输入") },
        { 2992, QStringLiteral("输入密码") },
        { 2993, QStringLiteral("旧密码") },
        { 2994, QStringLiteral("新密码") },
        { 2995, QStringLiteral("确认输入") },
        { 2996, QStringLiteral("确认") },
        { 2997, QStringLiteral("取消") },
        { 2998, QStringLiteral("英文") },
        { 2999, QStringLiteral("中文") },
        { 3000, QStringLiteral("部署VNC") },
        { 3001, QStringLiteral("移除VNC") },
        { 3002, QStringLiteral("设置密码") },
        { 3003, QStringLiteral("清除密码") },
        { 3004, QStringLiteral("重启HIX") },
        { 3005, QStringLiteral("退出") },
        { 3006, QStringLiteral("部署失败:") },
        { 3007, QStringLiteral("创建失败！") },
        { 3008, QStringLiteral("拷贝失败！") },
        { 3009, QStringLiteral("部署成功，重启后生效，\n初始密码：27364850") },
        { 3010, QStringLiteral("移除完成！") },
        { 3011, QStringLiteral("密码验证") },
        { 3012, QStringLiteral("密码设置") },
        { 3013, QStringLiteral("VNC部署工具") },
        { 3014, QStringLiteral("VNC配置文件错误") },
        { 3015, QStringLiteral("当前屏未部署VNC，无需移除") },
        { 3016, QStringLiteral("当前屏已部署VNC，是否重复部署") },
        { 3017, QStringLiteral("当前屏未部署VNC，无需设置密码") },
        { 3018, QStringLiteral("当前屏未部署VNC，无需清除密码") },
    };
}

QByteArray builtinBytes()
{
    QFile file(kBuiltin);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

} // namespace

TEST(LaniniTable, BuiltinAlone_GivesEveryVncToolTextExactly)
{
    QTemporaryDir dir;
    MultilingualManager *table = MultilingualManager::GetInstance();
    ASSERT_TRUE(table->loadMultilingualFile(dir.filePath("0000.lanini"), kBuiltin));

    const QMap<int, QString> expected = expectedTexts();
    for (auto it = expected.cbegin(); it != expected.cend(); ++it)
        EXPECT_EQ(table->getMultilingualValue(it.key()).toStdString(), it.value().toStdString())
            << "id " << it.key();
}

TEST(LaniniTable, StickOnlyTexts_AreAbsentFromTheBuiltinTable)
{
    QTemporaryDir dir;
    MultilingualManager *table = MultilingualManager::GetInstance();
    ASSERT_TRUE(table->loadMultilingualFile(dir.filePath("0000.lanini"), kBuiltin));
    for (int id : { 3019, 3020, 3021, 1015, 1018, 2000, 2985 })
        EXPECT_TRUE(table->getMultilingualValue(id).isEmpty()) << "id " << id;
}

TEST(LaniniTable, File_HasOneGroupPerTextBareValuesAndCrlfLines)
{
    const QByteArray bytes = builtinBytes();
    ASSERT_FALSE(bytes.isEmpty());
    EXPECT_TRUE(bytes.startsWith('#'));

    const QList<QByteArray> lines = bytes.split('\n');
    ASSERT_TRUE(lines.last().isEmpty()); // the file ends with a complete line
    int groups = 0;
    for (int i = 0; i + 1 < lines.size(); ++i) {
        EXPECT_TRUE(lines[i].endsWith('\r')) << "line " << i + 1;
        if (lines[i].startsWith('['))
            ++groups;
        if (lines[i].startsWith("string=")) {
            EXPECT_NE(lines[i].at(7), '"') << "line " << i + 1 << " is quoted";
        }
    }
    EXPECT_EQ(groups, expectedTexts().size());
}

TEST(LaniniTable, StickFile_OverridesOneTextAndKeepsTheRest)
{
    QTemporaryDir dir;
    const QString stickFile = dir.filePath("0001.lanini");
    QFile file(stickFile);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("[3000]\r\nstring=Deploy VNC\r\n[3019]\r\nstring=Password set\r\n");
    file.close();

    MultilingualManager *table = MultilingualManager::GetInstance();
    ASSERT_TRUE(table->loadMultilingualFile(stickFile, kBuiltin));
    EXPECT_EQ(table->getMultilingualValue(3000), QStringLiteral("Deploy VNC"));
    EXPECT_EQ(table->getMultilingualValue(3019), QStringLiteral("Password set"));
    EXPECT_EQ(table->getMultilingualValue(3001), QStringLiteral("移除VNC"));
}

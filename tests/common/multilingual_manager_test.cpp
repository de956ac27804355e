#include "multilingual_manager.h"

#include "temp_sysroot.h"

#include <QSettings>
#include <gtest/gtest.h>

#include <utility>

namespace {

const char *const Builtin = ":/new/prefix1/resource/lan/0000.lan";

// The Chinese table as the programs must show it (escapes as they read after loading).
const std::pair<int, const char *> BuiltinTexts[] = {
    { 1000, u8"警告" },
    { 1001, u8"提示" },
    { 1002, u8"错误" },
    { 1003, u8"确认" },
    { 1004, u8"是" },
    { 1005, u8"否" },
    { 1006, u8"取消" },
    { 1007, u8"返回" },
    { 1008, u8"正在退出到系统设置界面，请稍候..." },
    { 1009, u8"正在退出应用程序，请稍候..." },
    { 1010, u8"系统重启失败!%1" },
    { 1011, u8"HIX密码输入" },
    { 1012, u8"密码最大长度为20个字符!" },
    { 1013, u8"密码输入错误!" },
    { 1014, u8"请输入密码:" },
    { 1015, u8"正在退出应用程序，请稍候..." },
    { 1016, u8"若长时间无退出可强制执行或继续等待" },
    { 1017, u8"强制执行" },
    { 1018, u8"重启HIX" },
    { 2000, u8"[失败]" },
    { 2001, u8"[成功]" },
    { 2002, u8"读取配置文件update.ini失败，请检查升级包是否完整!" },
    { 2003, u8"工具包的压缩库文件丢失或已损坏，工具包无法使用！" },
    { 2004, u8"您正在使用%1，点击“是”进入升级，点击“否”退出升级。\n功能包介绍：" },
    { 2005,
        u8"不能升级，可能原因：\r\n1."
        u8"当前操作程序对应的U盘中工程数据文件不完整。\r\n建议：重新制作U盘综合功能包。\r\n2."
        u8"当前操作程序对应的U盘松动或被拔出。" },
    { 2006, u8"启动成功" },
    { 2007, u8"重启" },
    { 2008, u8"平台文件不存在！" },
    { 2009, u8"平台文件格式不对！" },
    { 2010, u8"平台文件配置错误！" },
    { 2011, u8"读取平台标识失败！" },
    { 2012, u8"当前平台未配置！" },
    { 2013, u8"dlgUpnote 内存分配失败" },
    { 2014, u8"总进度：" },
    { 2015, u8"请注意：升级过程中不能拔出U盘！" },
    { 2016, u8"请升级完成后再关闭此窗口！" },
    { 2017, u8"内存分配失败！" },
    { 2018, u8"开始升级..." },
    { 2019, u8"配置文件update.ini解析失败！" },
    { 2020, u8"配置文件update.ini解析成功..." },
    { 2021, u8"开始拷贝指定文件..." },
    { 2022, u8"文件拷贝失败！" },
    { 2023, u8"文件拷贝成功..." },
    { 2024, u8"开始删除指定文件..." },
    { 2025, u8"文件删除失败！" },
    { 2026, u8"文件删除成功..." },
    { 2027, u8"给指定文件赋予可执行权限..." },
    { 2028, u8"文件赋予可执行权限失败！" },
    { 2029, u8"文件赋予可执行权限成功..." },
    { 2030, u8"执行指定命令..." },
    { 2031, u8"命令执行失败！" },
    { 2032, u8"命令执行成功..." },
    { 2033, u8"即将启动执行程序..." },
    { 2034, u8"程序执行失败！" },
    { 2035, u8"程序全部执行完成..." },
    { 2036, u8"升级成功，请点击重启生效。" },
    { 2037, u8"升级完成，可以拔掉U盘" },
    { 2038, u8"删除升级过程配置文件失败！" },
    { 2039, u8"正在解析配置文件..." },
    { 2040, u8"%1 命令执行失败！" },
    { 2041, u8"DispatchService 内存分配失败！" },
    { 2042, u8"%1:程序解密失败!" },
    { 2043, u8"%1:设置环境变量失败!" },
    { 2044, u8"%1:程序启动失败!" },
    { 2045, u8"%1:启动成功..." },
    { 2046, u8"正在等待 %1 执行结束..." },
    { 2047, u8"%1:程序执行失败！" },
    { 2048, u8"%1:后续流程已终止!" },
    { 2049, u8"%1:继续后续流程..." },
    { 2050, u8"%1:程序执行成功..." },
    { 2051, u8"%1:程序执行完成..." },
    { 2052, u8"执行程序:切换工作路径失败！" },
    { 2053, u8"%1：当前已满足升级后条件，无需升级，是否重新升级？" },
    { 2054, u8"%1:不满足升级条件，不能升级！" },
    { 2055, u8"%1:执行前文件操作失败！" },
    { 2056, u8"%1:执行可执行程序失败！" },
    { 2057, u8"%1:尝试升级已达到3次，且均升级失败，无法继续升级！" },
    { 2058, u8"%1:不满足升级后条件，升级失败，是否重新升级？" },
    { 2059, u8"%1:升级失败，并取消重新升级，后续升级无法继续！" },
    { 2060, u8"%1:执行后文件操作失败！" },
    { 2061, u8"%1:开始备份指定文件..." },
    { 2062, u8"%1:获取备份文件列表失败！" },
    { 2063, u8"%1:生成校验文件失败！" },
    { 2064, u8"%1:文件备份失败，将删除全部已备份文件！" },
    { 2065, u8"%1:文件备份成功。" },
    { 2066, u8"%1:文件备份后校验失败，备份流程失败，将删除全部已备份文件！" },
    { 2067, u8"%1:开始拷贝指定文件..." },
    { 2068, u8"%1:文件拷贝失败！" },
    { 2069, u8"%1:文件拷贝成功..." },
    { 2070, u8"%1:开始删除指定文件..." },
    { 2071, u8"%1:文件删除失败！" },
    { 2072, u8"%1:文件删除成功..." },
    { 2073, u8"%1:给指定文件赋予可执行权限..." },
    { 2074, u8"%1:文件赋予可执行权限失败！" },
    { 2075, u8"%1:文件赋予可执行权限成功.." },
    { 2076, u8"%1:执行指定命令..." },
    { 2077, u8"%1:命令执行失败！" },
    { 2078, u8"%1:命令执行成功.." },
    { 2079, u8"%1:即将恢复文件..." },
    { 2080, u8"%1:获取备份文件列表失败！" },
    { 2081, u8"%1:开始恢复指定文件..." },
    { 2082, u8"%1:文件恢复失败！" },
    { 2083, u8"%1:文件恢复完成。" },
    { 2084, u8"%1:文件恢复后校验失败，恢复流程失败！" },
    { 2085, u8"%1:文件恢复成功..." },
    { 2086, u8"%1:开始拷贝指定文件..." },
    { 2087, u8"%1:文件拷贝失败！" },
    { 2088, u8"%1:文件拷贝成功..." },
    { 2089, u8"%1:开始删除指定文件..." },
    { 2090, u8"%1:文件删除失败！" },
    { 2091, u8"%1:文件删除成功..." },
    { 2092, u8"%1:给指定文件赋予可执行权限..." },
    { 2093, u8"%1:文件赋予可执行权限失败！" },
    { 2094, u8"%1:文件赋予可执行权限成功.." },
    { 2095, u8"%1:执行指定命令..." },
    { 2096, u8"%1:命令执行失败！" },
    { 2097, u8"%1:命令执行成功..." },
    { 2098, u8"切换到%1目录失败!" },
    { 2099, u8"删除备份数据失败" },
    { 2100, u8"文件备份/恢复失败，开始对先前文件进行还原..." },
    { 2101, u8"文件备份/恢复失败，先前文件还原成功.." },
    { 2102, u8"创建文件夹%1失败！" },
    { 2103, u8"拷贝文件%1失败！" },
    { 2104, u8"源文件:%1打开失败..." },
    { 2105, u8"目标文件:%1打开失败..." },
    { 2106, u8"读取文件%1失败，失败原因:%2" },
    { 2107, u8"写入数据失败！" },
    { 2108, u8"创建文件夹%1失败！" },
    { 2109, u8"源文件%1 CRC校验失败!" },
    { 2110, u8"正在拷贝文件:%1" },
    { 2111, u8"目标文件 %1 CRC校验失败！" },
    { 2112, u8"%1 备份后，CRC32校验不匹配" },
    { 2113, u8"对文件 %1 赋予可执行权限失败！" },
    { 2114, u8"对文件 %1 赋予可执行权限成功..." },
    { 2115, u8"运行环境:正在解析升级文件..." },
    { 2116, u8"运行环境:有0个文件需要升级，请检查后重试！" },
    { 2117, u8"运行环境:正在更新配置..." },
    { 2118, u8"运行环境:更新%1配置失败，请重新升级！" },
    { 2119, u8"运行环境:更新配置完成。" },
    { 2120, u8"%1 文件不存在..." },
    { 2121, u8"%1 文件夹不存在..." },
    { 2122, u8"文件夹%1不存在，文件夹拷贝失败" },
    { 2123, u8"%1 不存在， 不能进行备份!" },
    { 2124, u8"%1 备份模式不匹配， 不能进行备份!" },
    { 2125, u8"%1 不存在!" },
    { 2126, u8"备份/恢复后校验：%1 不存在，校验失败！" },
    { 2127, u8"备份/恢复后校验：%1 的crc32值与备份列表中的crc32值不一致！" },
    { 2128, u8"文件拷贝:切换工作路径到可执行程序路径下失败！" },
    { 2129, u8"文件拷贝失败，开始对先前文件进行还原..." },
    { 2130, u8"文件拷贝失败，先前文件还原成功.." },
    { 2131, u8"文件赋予可执行权限失败!失败项:%1！" },
    { 2132, u8"%1 不存在，可能已经被删除" },
    { 2133, u8"%1 删除模式不匹配，删除失败!" },
    { 2134, u8"%1 不存在， 拷贝失败！" },
    { 2135, u8"%1 拷贝模式配置错误， 拷贝失败" },
    { 2136, u8"正在删除文件:%1" },
    { 2137, u8"%1 不存在，可能已经被删除..." },
    { 2138, u8"%1文件删除失败！" },
    { 2139, u8"准备删除文件夹:%1" },
    { 2140, u8"拷贝文件时创建文件夹 %1 失败！" },
    { 2141, u8"文件 %1 拷贝失败!" },
    { 2142, u8"创建文件夹 %1 失败！" },
    { 2143, u8"文件夹%1不存在，文件夹拷贝失败！" },
    { 2144, u8"拷贝文件%1失败！" },
    { 2145, u8"正在拷贝文件：%1" },
    { 2146, u8"拷贝失败，失败原因:" },
    { 2147, u8"目标文件%1不存在，无法完成更名操作！" },
    { 2148, u8"文件%1更名失败！" },
    { 2149, u8"文件%1不存在，无法完成更名！" },
    { 2150, u8"目标文件夹%1不存在，无法完成更名操作！" },
    { 2151, u8"%1文件CRC校验失败" },
    { 2152, u8"crc32校验码不匹配！" },
    { 2153, u8"ini文件 %1 不存在" },
    { 2154, u8"ini文件 %1 不存在\n或者ini文件 %1 格式不正确！" },
    { 2155, u8"拷贝条件不满足，不能进行文件拷贝！" },
    { 2156, u8"文件已经拷贝，是否重新进行拷贝？" },
    { 2157, u8"正在备份文件：%1" },
    { 2158, u8"正在恢复文件：%1" },
    { 2159, u8"基础升级包" },
    { 2160, u8"基础升级包用于配置不同功能的功能包。" },
    { 2161, u8"升级结束提示信息！" },
    { 2162, u8"升级前总校验成功，点击“是”进入升级。" },
    { 2163, u8"升级前总校验失败，点击“否”退出升级。" },
    { 2180, u8"%1 与升级包清单不符（文件已被改动、截短或替换），升级已停止！" },
    { 2181, u8"升级包清单所列的文件%1不在U盘上，升级已停止！" },
    { 2182, u8"升级包清单%1无法读取，升级未开始！" },
    { 2183, u8"无法写入升级进度文件（U盘已满或只读），升级已停止！" },
    { 2184, u8"无法写入升级日志（U盘已满或只读），升级未开始！" },
    { 2185, u8"%1 是指向升级包以外或指回其上级文件夹的链接，不能拷贝！" },
    { 2186, u8"程序%1上次启动的实例仍在运行，正在结束它..." },
    { 2187, u8"无法结束程序%1上次启动的实例，不能再次启动它！" },
    { 2188, u8"%1:程序没有报告执行结果。" },
    { 2189, u8"%1:程序报告的执行结果为%2，成功结果应为%3。" },
    { 2190, u8"%1 恢复失败，面板上原来的文件保持不变！" },
    { 2191, u8"U盘上的升级进度记录属于另一个升级包，已作废，本升级包从头开始。" },
    { 2192,
        u8"U盘上保存着另一个升级包中断时留下的备份，尚未恢复。\n是否把该备份改名为%"
        u8"1保存（不删除），并继续本次升级？" },
    { 2193,
        u8"U盘上保存着另一个升级包中断时留下的备份，尚未恢复。请先用原升级包完成那次升级；本次升级"
        u8"没有改动面板。" },
    { 2194, u8"另一个升级包留下的备份已改名为%1保存，未删除。" },
    { 2195, u8"文件拷贝失败，部分暂存文件未能删除！" },
};

class LanguageTableTest : public ::testing::Test
{
protected:
    MultilingualManager *table() const { return MultilingualManager::GetInstance(); }
    QString text(int id) const { return table()->getMultilingualValue(id); }
    QString write(const QString &name, const QByteArray &content)
    {
        return sysroot.writeFile(QStringLiteral("/media/usb0/language/") + name, content);
    }

    TempSysroot sysroot;
};

} // namespace

TEST_F(LanguageTableTest, BuiltinTable_HoldsEveryListedTextExactly)
{
    ASSERT_TRUE(
        table()->loadMultilingualFile(sysroot.path("/media/usb0/language/none.lan"), Builtin));
    EXPECT_EQ(std::size(BuiltinTexts), 199u);
    for (const auto &[id, expected] : BuiltinTexts)
        EXPECT_EQ(text(id), QString::fromUtf8(expected)) << "id " << id;
    // Head lines of the run log can be rewritten in place only with 8-byte texts.
    EXPECT_EQ(text(2000).toUtf8().size(), 8);
    EXPECT_EQ(text(2001).toUtf8().size(), 8);
}

// The 183 listed texts stay as they are; texts added later take ids after the last of them.
TEST_F(LanguageTableTest, BuiltinFile_Has183EntriesUpTo2163_AdditionsOnlyAfterIt)
{
    QSettings settings(QString::fromLatin1(Builtin), QSettings::IniFormat);
    const QStringList groups = settings.childGroups();
    const auto listed = std::count_if(
        groups.begin(), groups.end(), [](const QString &id) { return id.toInt() <= 2163; });
    EXPECT_EQ(listed, 183);
}

TEST_F(LanguageTableTest, PartialLanguageFile_ChangesOnlyItsEntries)
{
    const QString file = write("0001.lan", "[2018]\r\nstring=\"Update starts...\"\r\n");
    ASSERT_TRUE(table()->loadMultilingualFile(file, Builtin));
    EXPECT_EQ(text(2018), QStringLiteral("Update starts..."));
    EXPECT_EQ(text(2017), QStringLiteral("内存分配失败！"));
    EXPECT_EQ(text(1000), QStringLiteral("警告"));
}

TEST_F(LanguageTableTest, UndefinedId_IsEmpty)
{
    ASSERT_TRUE(table()->loadMultilingualFile(QString(), Builtin));
    EXPECT_TRUE(text(2164).isEmpty());
    EXPECT_TRUE(text(-1).isEmpty());
}

TEST_F(LanguageTableTest, SecondLoad_ReplacesTheWholeTable)
{
    const QString extra = write("0002.lan", "[5000]\nstring=\"only here\"\n[2018]\nstring=\"x\"\n");
    ASSERT_TRUE(table()->loadMultilingualFile(extra, Builtin));
    EXPECT_EQ(text(5000), QStringLiteral("only here"));
    ASSERT_TRUE(table()->loadMultilingualFile(QString(), Builtin));
    EXPECT_TRUE(text(5000).isEmpty());
    EXPECT_EQ(text(2018), QStringLiteral("开始升级..."));
}

TEST_F(LanguageTableTest, UnquotedCommaValue_ReadsEmptyQuotedReadsWhole)
{
    const QString file = write(
        "0000.lanini", "[3000]\nstring=a, b\n[3001]\nstring=\"a, b\"\n[3002]\nstring=bare\n");
    ASSERT_TRUE(table()->loadMultilingualFile(file, QString()));
    EXPECT_TRUE(text(3000).isEmpty());
    EXPECT_EQ(text(3001), QStringLiteral("a, b"));
    EXPECT_EQ(text(3002), QStringLiteral("bare"));
}

TEST_F(LanguageTableTest, QuotedEscapes_BecomeLineBreaksAndCharacters)
{
    const QString file = write(
        "0003.lan", "[2154]\nstring=\"first\\nsecond\"\n[7]\nstring=\"a\\\\b \\\"q\\\" \\t.\"\n");
    ASSERT_TRUE(table()->loadMultilingualFile(file, Builtin));
    EXPECT_EQ(text(2154), QStringLiteral("first\nsecond"));
    EXPECT_EQ(text(2154).split('\n').size(), 2);
    EXPECT_EQ(text(7), QStringLiteral("a\\b \"q\" \t."));
}

TEST_F(LanguageTableTest, NonNumericGroup_IsStoredUnderZero)
{
    const QString file = write("0004.lan", "[abc]\nstring=\"zero\"\n");
    ASSERT_TRUE(table()->loadMultilingualFile(file, QString()));
    EXPECT_EQ(text(0), QStringLiteral("zero"));
}

TEST_F(LanguageTableTest, BrokenLanguageFiles_KeepTheBuiltinTexts)
{
    const QByteArray broken[] = {
        QByteArray(),
        QByteArray("["),
        QByteArray("[2018\nstring=\"half"),
        QByteArray("\xff\xfe\x00\x01garbage\x00\x00=\n", 14),
        QByteArray("string=\"no group\"\n"),
    };
    int n = 0;
    for (const QByteArray &content : broken) {
        const QString file = write(QStringLiteral("bad%1.lan").arg(n++), content);
        EXPECT_TRUE(table()->loadMultilingualFile(file, Builtin));
        EXPECT_EQ(text(2015), QStringLiteral("请注意：升级过程中不能拔出U盘！"));
    }
}

TEST_F(LanguageTableTest, NoFileAtAll_GivesFalseAndAnEmptyTable)
{
    const QString missing = sysroot.path("/media/usb0/language/0009.lan");
    EXPECT_FALSE(table()->loadMultilingualFile(missing, QString()));
    EXPECT_TRUE(text(1000).isEmpty());
    EXPECT_FALSE(table()->loadMultilingualFile(missing, sysroot.path("/nowhere.lan")));
    EXPECT_TRUE(text(2018).isEmpty());
    // Only the language file: its entries and nothing else.
    const QString only = write("0005.lan", "[1000]\nstring=\"Warning\"\n");
    EXPECT_TRUE(table()->loadMultilingualFile(only, QString()));
    EXPECT_EQ(text(1000), QStringLiteral("Warning"));
    EXPECT_TRUE(text(1001).isEmpty());
}

#include "netlink_wrapper2.h"
#include "temp_sysroot.h"

#include <netlink/genl/ctrl.h>
#include <netlink/genl/genl.h>
#include <netlink/genl/mngt.h>
#include <netlink/netlink.h>

#include <QDir>
#include <gtest/gtest.h>

#include <cstring>
#include <linux/genetlink.h>

namespace {

template<typename T> QByteArray bytesOf(const T &record)
{
    return QByteArray(reinterpret_cast<const char *>(&record), sizeof record);
}

// A command table for the kernel's own generic netlink controller: a "get family" request
// carries the family id as attribute 1 and the reply ("new family") carries the name as
// attribute 2, just like the driver's request and response attributes.
struct ControllerTable
{
    explicit ControllerTable(int responseMaxLen)
    {
        policy[CTRL_ATTR_FAMILY_NAME].maxlen = static_cast<uint16_t>(responseMaxLen);
        cmd.c_id = CTRL_CMD_NEWFAMILY;
        cmd.c_name = name;
        cmd.c_maxattr = 2;
        cmd.c_msg_parser = netlink_wrapper2::hal_cmd_parse;
        cmd.c_attr_policy = policy;
    }
    char name[10] = "newfamily";
    nla_policy policy[3] {};
    genl_cmd cmd {};
};

} // namespace

TEST(NetlinkRecords, GetIdRequest_PacksNonceAndLengthAtTheirOffsets)
{
    hal_netlink_cmd_get_id_req req {};
    for (int i = 0; i < 16; ++i)
        req.key[i] = static_cast<uint8_t>(0xA0 + i);
    req.keyLen = 16;
    const QByteArray raw = bytesOf(req);
    ASSERT_EQ(raw.size(), 36);
    for (int i = 0; i < 16; ++i)
        EXPECT_EQ(uint8_t(raw[i]), 0xA0 + i) << i;
    EXPECT_EQ(raw.mid(16, 16), QByteArray(16, '\0'));
    EXPECT_EQ(raw.mid(32, 4), QByteArray("\x10\x00\x00\x00", 4)); // little-endian 16
}

TEST(NetlinkRecords, GetIdResponse_ReadsStatusAndIdBlockFromTheirOffsets)
{
    QByteArray raw(72, '\x55');
    raw.replace(0, 4, QByteArray("\xFE\xFF\xFF\xFF", 4));
    for (int i = 0; i < 16; ++i)
        raw[36 + i] = static_cast<char>(i * 3);
    hal_netlink_cmd_get_id_resp resp;
    ASSERT_EQ(sizeof resp, 72u);
    std::memcpy(&resp, raw.constData(), sizeof resp);
    EXPECT_EQ(resp.status, -2);
    for (int i = 0; i < 16; ++i)
        EXPECT_EQ(resp.idBlock[i], i * 3) << i;
    EXPECT_EQ(bytesOf(resp), raw);
}

TEST(NetlinkRecords, PlatformInfoResponse_ReadsFourTextsFromTheirOffsets)
{
    QByteArray raw(164, '\0');
    raw.replace(0, 4, QByteArray("\x00\x00\x00\x00", 4));
    raw.replace(4, 4, "V2.1");
    raw.replace(36, 6, "second");
    raw.replace(68, 3, "img");
    raw.replace(100, 4, "rev7");
    raw.replace(132, 5, "trail");
    hal_netlink_cmd_get_platform_info_resp resp;
    ASSERT_EQ(sizeof resp, 164u);
    std::memcpy(&resp, raw.constData(), sizeof resp);
    EXPECT_EQ(resp.status, 0);
    EXPECT_STREQ(resp.info[0], "V2.1");
    EXPECT_STREQ(resp.info[1], "second");
    EXPECT_STREQ(resp.info[2], "img");
    EXPECT_STREQ(resp.info[3], "rev7");
    EXPECT_EQ(QByteArray(reinterpret_cast<char *>(resp.reserved), 5), QByteArray("trail"));
}

TEST(NetlinkWrapper, DriverFamilyMissing_InitFails_RequestsRefused)
{
    TempSysroot sysroot; // no emulated driver folder
    EXPECT_EQ(netlink_wrapper2::hal_netlink_init(), -NLE_OBJ_NOTFOUND);
    hal_netlink_cmd_get_platform_info_resp info {};
    EXPECT_EQ(netlink_wrapper2::hal_netlink_get_platform_info(&info), -22);
    netlink_wrapper2::hal_netlink_exit(); // harmless when not registered
    netlink_wrapper2::hal_netlink_exit();
}

TEST(NetlinkWrapper, EmulatedDriver_SecondInitIsEExist_ClientStaysUsable_ExitRefuses)
{
    TempSysroot sysroot;
    sysroot.writeFile("/run/vexo-hal/platform_info", "NK-3.1\nunused\nboard A\nrev 2\n");
    ASSERT_EQ(netlink_wrapper2::hal_netlink_init(), 0);
    EXPECT_EQ(netlink_wrapper2::hal_netlink_init(), -17);
    hal_netlink_cmd_get_platform_info_resp info {};
    ASSERT_EQ(netlink_wrapper2::hal_netlink_get_platform_info(&info), 0);
    EXPECT_EQ(info.status, 0);
    EXPECT_STREQ(info.info[0], "NK-3.1");
    EXPECT_STREQ(info.info[2], "board A");
    EXPECT_STREQ(info.info[3], "rev 2");
    netlink_wrapper2::hal_netlink_exit();
    EXPECT_EQ(netlink_wrapper2::hal_netlink_get_platform_info(&info), -22);
}

TEST(NetlinkWrapper, EmulatedDriver_StatusFileAnswersRefusal)
{
    TempSysroot sysroot;
    sysroot.writeFile("/run/vexo-hal/info_status", "-3\n");
    sysroot.writeFile("/run/vexo-hal/platform_info", "NK\n");
    ASSERT_EQ(netlink_wrapper2::hal_netlink_init(), 0);
    hal_netlink_cmd_get_platform_info_resp info {};
    EXPECT_EQ(netlink_wrapper2::hal_netlink_get_platform_info(&info), 0);
    EXPECT_EQ(info.status, -3);
    EXPECT_STREQ(info.info[0], "");
    netlink_wrapper2::hal_netlink_exit();
}

TEST(GenlFamilyClient, KernelController_ResolvesAndAnswersThroughTheParser)
{
    ControllerTable table(72);
    genl_family_client client("nlctrl", &table.cmd, 1);
    EXPECT_EQ(client.request(CTRL_CMD_GETFAMILY, nullptr, nullptr, 0), -22);
    ASSERT_EQ(client.init(), 0);
    EXPECT_EQ(client.familyId(), GENL_ID_CTRL);
    EXPECT_EQ(client.init(), -17);

    unsigned char buffer[72];
    std::memset(buffer, 0xAA, sizeof buffer);
    const uint16_t id = GENL_ID_CTRL;
    ASSERT_EQ(client.request(CTRL_CMD_GETFAMILY, buffer, &id, sizeof id), 0);
    // The payload is "nlctrl" with its zero; nothing past it is written.
    EXPECT_EQ(QByteArray(reinterpret_cast<char *>(buffer), 7), QByteArray("nlctrl", 7));
    EXPECT_EQ(buffer[7], 0xAA);

    // A family id the kernel does not know comes back as the kernel's error.
    const uint16_t unknown = 0x7FF0;
    std::memset(buffer, 0xAA, sizeof buffer);
    EXPECT_LT(client.request(CTRL_CMD_GETFAMILY, buffer, &unknown, sizeof unknown), 0);
    EXPECT_EQ(buffer[0], 0xAA);

    client.exit();
    EXPECT_EQ(client.request(CTRL_CMD_GETFAMILY, buffer, &id, sizeof id), -22);
}

TEST(GenlFamilyClient, ReplyLongerThanPolicy_RejectedBeforeTheParser)
{
    ControllerTable table(4); // "nlctrl" needs 7 bytes
    genl_family_client client("nlctrl", &table.cmd, 1);
    ASSERT_EQ(client.init(), 0);
    unsigned char buffer[16];
    std::memset(buffer, 0xAA, sizeof buffer);
    const uint16_t id = GENL_ID_CTRL;
    EXPECT_EQ(client.request(CTRL_CMD_GETFAMILY, buffer, &id, sizeof id), -NLE_RANGE);
    EXPECT_EQ(buffer[0], 0xAA);
}

TEST(GenlFamilyClient, UnknownFamilyName_FailsWithNotFound)
{
    ControllerTable table(72);
    genl_family_client client("vexo-hal", &table.cmd, 1);
    EXPECT_EQ(client.init(), -NLE_OBJ_NOTFOUND);
    EXPECT_FALSE(client.isRegistered());
}

namespace {

// Builds a reply of the given command with an optional attribute 2 and hands it to the parser.
int parseReply(genl_cmd *cmd, const QByteArray *payload, void *buffer)
{
    nl_msg *msg = nlmsg_alloc();
    genlmsg_put(msg, NL_AUTO_PORT, NL_AUTO_SEQ, 99, 0, 0, static_cast<uint8_t>(cmd->c_id), 1);
    if (payload)
        nla_put(msg, HAL_ATTR_RESPONSE, payload->size(), payload->constData());
    nlattr *attrs[HAL_ATTR_MAX + 1] = {};
    genlmsg_parse(nlmsg_hdr(msg), 0, attrs, HAL_ATTR_MAX, nullptr);
    genl_info info {};
    info.nlh = nlmsg_hdr(msg);
    info.genlhdr = static_cast<genlmsghdr *>(nlmsg_data(info.nlh));
    info.attrs = attrs;
    const int result = netlink_wrapper2::hal_cmd_parse(nullptr, cmd, &info, buffer);
    nlmsg_free(msg);
    return result;
}

} // namespace

TEST(HalCmdParse, CopiesAtMostPolicyMaximumAndPayload_MissingAttributeIsMinusOne)
{
    char name[] = "get platform id";
    genl_cmd cmd { HAL_CMD_GET_PLATFORM_ID, name, HAL_ATTR_MAX, netlink_wrapper2::hal_cmd_parse,
        netlink_wrapper2::hal_cmd_get_id_policy };
    unsigned char buffer[100];

    std::memset(buffer, 0xAA, sizeof buffer);
    const QByteArray large(90, '\x11');
    EXPECT_EQ(parseReply(&cmd, &large, buffer), 0);
    EXPECT_EQ(buffer[71], 0x11);
    EXPECT_EQ(buffer[72], 0xAA);

    std::memset(buffer, 0xAA, sizeof buffer);
    const QByteArray small(10, '\x22');
    EXPECT_EQ(parseReply(&cmd, &small, buffer), 0);
    EXPECT_EQ(buffer[9], 0x22);
    EXPECT_EQ(buffer[10], 0xAA);

    std::memset(buffer, 0xAA, sizeof buffer);
    EXPECT_EQ(parseReply(&cmd, nullptr, buffer), -1);
    EXPECT_EQ(buffer[0], 0xAA);

    EXPECT_EQ(parseReply(&cmd, &small, nullptr), -22);
    EXPECT_EQ(netlink_wrapper2::hal_cmd_parse(nullptr, nullptr, nullptr, buffer), -22);
}

TEST(HalPolicies, MaximumLengthsAreTheRecordSizes)
{
    EXPECT_EQ(netlink_wrapper2::hal_cmd_get_id_policy[1].maxlen, 36);
    EXPECT_EQ(netlink_wrapper2::hal_cmd_get_id_policy[2].maxlen, 72);
    EXPECT_EQ(netlink_wrapper2::hal_cmd_get_platform_info_policy[2].maxlen, 164);
    EXPECT_EQ(netlink_wrapper2::hal_cmd_get_id_policy[2].type, NLA_UNSPEC);
    EXPECT_EQ(netlink_wrapper2::hal_cmd_get_id_policy[2].minlen, 0);
}

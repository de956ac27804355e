#include "netlink_wrapper2.h"

#include "hal_substitute.h"

#include <netlink/genl/ctrl.h>
#include <netlink/genl/genl.h>
#include <netlink/genl/mngt.h>
#include <netlink/netlink.h>

#include <QDebug>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>
#include <vector>

namespace {

struct SocketFree
{
    void operator()(nl_sock *sock) const
    {
        nl_close(sock);
        nl_socket_free(sock);
    }
};
using SocketPtr = std::unique_ptr<nl_sock, SocketFree>;

struct MessageFree
{
    void operator()(nl_msg *msg) const { nlmsg_free(msg); }
};
using MessagePtr = std::unique_ptr<nl_msg, MessageFree>;

// A connected generic netlink socket, or the error that prevented it.
SocketPtr openSocket(int &err)
{
    SocketPtr sock(nl_socket_alloc());
    if (!sock) {
        err = -ENOMEM;
        return nullptr;
    }
    err = genl_connect(sock.get());
    if (err < 0)
        return nullptr;
    return sock;
}

struct DispatchContext
{
    int familyId;
    genl_cmd *cmds;
    int cmdCount;
    void *resp;
};

// Routes one reply to the parser of its command after the library validated its attributes
// against that command's policy, as the library's own generic netlink dispatcher does.
int dispatchReply(nl_msg *msg, void *arg)
{
    const auto *ctx = static_cast<DispatchContext *>(arg);
    nlmsghdr *nlh = nlmsg_hdr(msg);
    if (nlh->nlmsg_type != ctx->familyId || !genlmsg_valid_hdr(nlh, 0))
        return -NLE_MSGTYPE_NOSUPPORT;
    auto *ghdr = static_cast<genlmsghdr *>(nlmsg_data(nlh));
    genl_cmd *cmd = nullptr;
    for (int i = 0; i < ctx->cmdCount; ++i) {
        if (ctx->cmds[i].c_id == ghdr->cmd)
            cmd = &ctx->cmds[i];
    }
    if (!cmd)
        return -NLE_MSGTYPE_NOSUPPORT;
    if (!cmd->c_msg_parser)
        return NL_SKIP;
    std::vector<nlattr *> attrs(static_cast<size_t>(std::max(cmd->c_maxattr, 0)) + 1, nullptr);
    const int err = genlmsg_parse(nlh, 0, attrs.data(), cmd->c_maxattr, cmd->c_attr_policy);
    if (err < 0)
        return err;
    genl_info info {};
    info.who = nlmsg_get_src(msg);
    info.nlh = nlh;
    info.genlhdr = ghdr;
    info.userhdr = genlmsg_user_hdr(ghdr);
    info.attrs = attrs.data();
    return cmd->c_msg_parser(nullptr, cmd, &info, ctx->resp);
}

} // namespace

genl_family_client::genl_family_client(const char *familyName, genl_cmd *cmds, int cmdCount)
    : name(familyName)
    , cmds(cmds)
    , cmdCount(cmdCount)
{
}

genl_family_client::~genl_family_client() = default;

int genl_family_client::init()
{
    if (registered)
        return -EEXIST;
    int err = 0;
    SocketPtr sock = openSocket(err);
    if (!sock)
        return err;
    // The socket serves only the name resolution; every request opens its own.
    const int id = genl_ctrl_resolve(sock.get(), name);
    if (id < 0)
        return id;
    resolvedId = id;
    registered = true;
    return 0;
}

void genl_family_client::exit()
{
    registered = false;
    resolvedId = 0;
}

int genl_family_client::request(int cmd, void *resp, const void *data, int len)
{
    if (!registered)
        return -EINVAL;
    int err = 0;
    SocketPtr sock = openSocket(err);
    if (!sock)
        return err;
    MessagePtr msg(nlmsg_alloc());
    if (!msg)
        return -ENOMEM;
    if (!genlmsg_put(
            msg.get(), NL_AUTO_PORT, NL_AUTO_SEQ, resolvedId, 0, 0, static_cast<uint8_t>(cmd), 1))
        return -1;
    if (data && len > 0) {
        err = nla_put(msg.get(), HAL_ATTR_REQUEST, len, data);
        if (err < 0)
            return err;
    }
    err = nl_send_auto(sock.get(), msg.get());
    if (err < 0)
        return err;
    DispatchContext ctx { resolvedId, cmds, cmdCount, resp };
    err = nl_socket_modify_cb(sock.get(), NL_CB_VALID, NL_CB_CUSTOM, dispatchReply, &ctx);
    if (err < 0)
        return err;
    return nl_recvmsgs_default(sock.get());
}

nla_policy netlink_wrapper2::hal_cmd_get_id_policy[HAL_ATTR_MAX + 1] = {
    {},
    { NLA_UNSPEC, 0, sizeof(hal_netlink_cmd_get_id_req) },
    { NLA_UNSPEC, 0, sizeof(hal_netlink_cmd_get_id_resp) },
};

nla_policy netlink_wrapper2::hal_cmd_get_platform_info_policy[HAL_ATTR_MAX + 1] = {
    {},
    {},
    { NLA_UNSPEC, 0, sizeof(hal_netlink_cmd_get_platform_info_resp) },
};

namespace {
char getIdName[] = "get platform id";
char getInfoName[] = "get platform info";
genl_cmd halCommands[] = {
    { HAL_CMD_GET_PLATFORM_ID, getIdName, HAL_ATTR_MAX, netlink_wrapper2::hal_cmd_parse,
        netlink_wrapper2::hal_cmd_get_id_policy },
    { HAL_CMD_GET_PLATFORM_INFO, getInfoName, HAL_ATTR_MAX, netlink_wrapper2::hal_cmd_parse,
        netlink_wrapper2::hal_cmd_get_platform_info_policy },
};
} // namespace

bool netlink_wrapper2::substituteOpen = false;

genl_family_client &netlink_wrapper2::client()
{
    static genl_family_client halClient(
        FamilyName, halCommands, static_cast<int>(sizeof halCommands / sizeof *halCommands));
    return halClient;
}

int netlink_wrapper2::hal_netlink_init()
{
    if (client().isRegistered() || substituteOpen)
        return -EEXIST;
    const int err = client().init();
    if (err == -NLE_OBJ_NOTFOUND && hal_substitute::available()) {
        substituteOpen = true;
        return 0;
    }
    return err;
}

void netlink_wrapper2::hal_netlink_exit()
{
    client().exit();
    substituteOpen = false;
}

int netlink_wrapper2::hal_netlink_message_handle(int cmd, void *resp, const void *data, int len)
{
    if (substituteOpen) {
        if (cmd == HAL_CMD_GET_PLATFORM_ID)
            return hal_substitute::getPlatformId(
                static_cast<const hal_netlink_cmd_get_id_req *>(data),
                static_cast<hal_netlink_cmd_get_id_resp *>(resp));
        return hal_substitute::getPlatformInfo(
            static_cast<hal_netlink_cmd_get_platform_info_resp *>(resp));
    }
    return client().request(cmd, resp, data, len);
}

int netlink_wrapper2::hal_netlink_get_platform_id(
    hal_netlink_cmd_get_id_req *req, hal_netlink_cmd_get_id_resp *resp)
{
    if (!req || !resp)
        return -EINVAL;
    return hal_netlink_message_handle(HAL_CMD_GET_PLATFORM_ID, resp, req, sizeof(*req));
}

int netlink_wrapper2::hal_netlink_get_platform_info(hal_netlink_cmd_get_platform_info_resp *resp)
{
    if (!resp)
        return -EINVAL;
    return hal_netlink_message_handle(HAL_CMD_GET_PLATFORM_INFO, resp, nullptr, 0);
}

int netlink_wrapper2::hal_cmd_parse(nl_cache_ops *, genl_cmd *cmd, genl_info *info, void *arg)
{
    if (!cmd || !arg || !info)
        return -EINVAL;
    if (cmd->c_maxattr < HAL_ATTR_RESPONSE || !info->attrs || !info->attrs[HAL_ATTR_RESPONSE])
        return -1;
    const nlattr *attr = info->attrs[HAL_ATTR_RESPONSE];
    const int maxLen = cmd->c_attr_policy ? cmd->c_attr_policy[HAL_ATTR_RESPONSE].maxlen : 0;
    const int copyLen = std::min(maxLen, std::max(nla_len(attr), 0));
    std::memcpy(arg, nla_data(attr), static_cast<size_t>(copyLen));
    return 0;
}

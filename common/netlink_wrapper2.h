#pragma once

#include <cstddef>
#include <cstdint>

struct nl_cache_ops;
struct genl_cmd;
struct genl_info;
struct nla_policy;

// Records exchanged with the panel's hardware-abstraction driver, packed and in the panel's
// native byte order.
#pragma pack(push, 1)
struct hal_netlink_cmd_get_id_req
{
    uint8_t key[32]; // bytes 0-15: the caller's nonce, the rest zero
    uint32_t keyLen; // the nonce length: 16
};

struct hal_netlink_cmd_get_id_resp
{
    int32_t status; // 0 = success
    uint8_t reserved1[32];
    uint8_t idBlock[16]; // AES-128 ciphertext, further XOR-masked with the nonce
    uint8_t reserved2[20];
};

struct hal_netlink_cmd_get_platform_info_resp
{
    int32_t status; // 0 = success
    char info[4][32]; // zero-terminated texts: image version, (unused), extra part 1, part 2
    uint8_t reserved[32];
};
#pragma pack(pop)

static_assert(sizeof(hal_netlink_cmd_get_id_req) == 36, "get-id request is 36 bytes");
static_assert(offsetof(hal_netlink_cmd_get_id_req, keyLen) == 32, "keyLen at 32");
static_assert(sizeof(hal_netlink_cmd_get_id_resp) == 72, "get-id response is 72 bytes");
static_assert(offsetof(hal_netlink_cmd_get_id_resp, idBlock) == 36, "idBlock at 36");
static_assert(sizeof(hal_netlink_cmd_get_platform_info_resp) == 164, "info response is 164 bytes");
static_assert(offsetof(hal_netlink_cmd_get_platform_info_resp, info) == 4, "info[0] at 4");
static_assert(offsetof(hal_netlink_cmd_get_platform_info_resp, reserved) == 132, "tail at 132");

enum HAL_NETLINK_CMD {
    HAL_CMD_GET_PLATFORM_ID = 1,
    HAL_CMD_GET_PLATFORM_INFO = 2,
};

enum HAL_NETLINK_ATTR {
    HAL_ATTR_REQUEST = 1,
    HAL_ATTR_RESPONSE = 2,
    HAL_ATTR_MAX = HAL_ATTR_RESPONSE,
};

// A generic netlink client for one family and its command table: resolves the family by name,
// sends one command with an optional request attribute and hands the reply to the parser of the
// matching command, after the attributes passed the command's policy. The HAL client below is one
// such client; keeping the family and the table as parameters lets the same machinery be proved
// against any family the kernel has.
class genl_family_client
{
public:
    genl_family_client(const char *familyName, genl_cmd *cmds, int cmdCount);
    ~genl_family_client();
    genl_family_client(const genl_family_client &) = delete;
    genl_family_client &operator=(const genl_family_client &) = delete;

    // 0, -17 when already registered, -12 without a socket, or the library's error.
    int init();
    void exit();
    bool isRegistered() const { return registered; }
    int familyId() const { return resolvedId; }

    // Sends cmd (with data as attribute 1 when len > 0) and waits for the reply, which the
    // matching command's parser receives with resp as its argument. -22 when not registered.
    int request(int cmd, void *resp, const void *data, int len);

private:
    const char *name;
    genl_cmd *cmds;
    int cmdCount;
    int resolvedId = 0;
    bool registered = false;
};

// The client of the panel's hardware-abstraction driver, generic netlink family "vexo-hal".
// Without the driver, on an emulated panel (HIX_SYSROOT set, folder <sysroot>/run/vexo-hal
// present), the two commands are answered by hal_substitute instead.
class netlink_wrapper2
{
public:
    static constexpr const char *FamilyName = "vexo-hal";

    static int hal_netlink_init();
    static void hal_netlink_exit();
    static int hal_netlink_get_platform_id(
        hal_netlink_cmd_get_id_req *req, hal_netlink_cmd_get_id_resp *resp);
    static int hal_netlink_get_platform_info(hal_netlink_cmd_get_platform_info_resp *resp);

    // Copies attribute 2 of a reply into arg: at most the policy's maximum length of attribute 2
    // and never more than the payload holds. -22 without command or buffer, -1 without the
    // attribute (buffer untouched).
    static int hal_cmd_parse(nl_cache_ops *ops, genl_cmd *cmd, genl_info *info, void *arg);

    static nla_policy hal_cmd_get_id_policy[HAL_ATTR_MAX + 1];
    static nla_policy hal_cmd_get_platform_info_policy[HAL_ATTR_MAX + 1];

private:
    static int hal_netlink_message_handle(int cmd, void *resp, const void *data, int len);
    static genl_family_client &client();
    static bool substituteOpen;
};

#pragma once

#include "netlink_wrapper2.h"

#include <QString>

// The emulated panel's stand-in for the hardware-abstraction driver. It answers the two driver
// commands only when HIX_SYSROOT is set and the folder <sysroot>/run/vexo-hal exists (and the
// real family is missing, which the client decides). Files in that folder:
//
//   panel_id      32 hexadecimal digits: the panel's secret 16-byte identity block. Created with
//                 random bytes on the first "get platform id" when absent, so each emulated panel
//                 keeps one identity for its lifetime and two panels differ.
//   platform_info up to four lines of UTF-8 text: image version, second text, and the two parts
//                 of the image's extra information. Each is cut to 31 bytes. Absent: four empty
//                 texts.
//   id_status     optional decimal number: the status answered to "get platform id" (default 0).
//   info_status   optional decimal number: the status answered to "get platform info".
//
// The identifier block is answered as the driver does: AES-128 encryption of the identity block
// with the caller's nonce as key, XOR-masked with the nonce.
class hal_substitute
{
public:
    static QString folder();
    static bool available();

    // 0 when answered (the status field tells the driver's verdict), -22 for a malformed request,
    // -5 when the identity block cannot be read or created.
    static int getPlatformId(
        const hal_netlink_cmd_get_id_req *req, hal_netlink_cmd_get_id_resp *resp);
    static int getPlatformInfo(hal_netlink_cmd_get_platform_info_resp *resp);
};

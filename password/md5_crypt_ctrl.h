#pragma once

#include <string>

// The panel's access password as the HMI runtime stores it: the MD5 digest of the password's
// bytes in lower-case hex under "/SECURITY/license" of its application configuration file. The
// password itself is never kept. An absent or empty value means no password is set.
class md5_crypt_ctrl
{
public:
    static md5_crypt_ctrl *GetInstance();
    virtual ~md5_crypt_ctrl() = default;

    md5_crypt_ctrl(const md5_crypt_ctrl &) = delete;
    md5_crypt_ctrl &operator=(const md5_crypt_ctrl &) = delete;

    // Re-reads the stored digest; true when a password is set.
    bool CryptInit();
    bool isSetPasswd();

    // True when the typed password matches the stored digest, or when no password is set.
    bool isPwdPassed(const std::string &passwd);

    // Replaces the stored digest after checking the current password; an empty new password
    // clears it. Every other line of the file is kept as it was. False when the current
    // password is wrong or the file could not be written.
    bool SetNewPwd(const std::string &oldPasswd, const std::string &newPasswd);

    // 32 lower-case hex characters of the MD5 digest of text's bytes.
    std::string Encrypt(const std::string &text);

    // Hex text of at most 32 bytes, in a static buffer valid until the next call.
    static const char *hexstr(const unsigned char *bytes, int count);

private:
    md5_crypt_ctrl() = default;
    bool writeLicense(const std::string &value);

    std::string storedHash;
    bool loaded = false;
};

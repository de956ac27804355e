#pragma once

#include <QByteArray>
#include <QString>

#include <memory>

struct evp_pkey_st;

// An Ed25519 key that signs update packages (the package author's private key) or checks them
// (a public key the panel trusts). Keys are stored as PEM text: PKCS#8 for the private key,
// SubjectPublicKeyInfo for the public one, so the openssl command reads and writes them too.
class PackageKey
{
public:
    PackageKey();
    ~PackageKey();
    PackageKey(PackageKey &&) noexcept;
    PackageKey &operator=(PackageKey &&) noexcept;

    // A new key pair from the system's random source; null when it cannot be made.
    static PackageKey generate();
    // A private key (for signing) or a public key (for checking) from PEM text; null, with the
    // reason, for anything else, another kind of key included.
    static PackageKey fromPrivatePem(const QByteArray &pem, QString *error = nullptr);
    static PackageKey fromPublicPem(const QByteArray &pem, QString *error = nullptr);

    bool isNull() const { return !key; }
    bool canSign() const { return key && hasPrivate; }

    QByteArray privatePem() const; // empty for a public key
    QByteArray publicPem() const;
    // The key's name in a signature: SHA-256 of the raw 32-byte public key, lower-case hex.
    QByteArray id() const;

    // The 64-byte Ed25519 signature of message; empty when this key cannot sign.
    QByteArray sign(const QByteArray &message) const;
    bool verify(const QByteArray &message, const QByteArray &signature) const;

private:
    static PackageKey fromPem(const QByteArray &pem, bool privateKey, QString *error);

    struct Free
    {
        void operator()(evp_pkey_st *key) const;
    };
    std::unique_ptr<evp_pkey_st, Free> key;
    bool hasPrivate = false;
};

#include "package_key.h"

#include "file_io.h"
#include "package_manifest.h"

#include <openssl/evp.h>
#include <openssl/pem.h>

using hix::io::Sha256;

namespace {

constexpr size_t RawPublicKeySize = 32;
constexpr size_t SignatureSize = 64;

struct BioFree
{
    void operator()(BIO *bio) const { BIO_free(bio); }
};
using Bio = std::unique_ptr<BIO, BioFree>;

struct ContextFree
{
    void operator()(EVP_MD_CTX *context) const { EVP_MD_CTX_free(context); }
    void operator()(EVP_PKEY_CTX *context) const { EVP_PKEY_CTX_free(context); }
};

Bio readBio(const QByteArray &bytes)
{
    return Bio(BIO_new_mem_buf(bytes.constData(), bytes.size()));
}

QByteArray bioBytes(BIO *bio)
{
    char *data = nullptr;
    const long size = BIO_get_mem_data(bio, &data);
    return size > 0 ? QByteArray(data, int(size)) : QByteArray();
}

bool refuse(QString *error, const QString &why)
{
    if (error)
        *error = why;
    return false;
}

} // namespace

void PackageKey::Free::operator()(evp_pkey_st *pkey) const
{
    EVP_PKEY_free(pkey);
}

PackageKey::PackageKey() = default;
PackageKey::~PackageKey() = default;
PackageKey::PackageKey(PackageKey &&) noexcept = default;
PackageKey &PackageKey::operator=(PackageKey &&) noexcept = default;

PackageKey PackageKey::generate()
{
    PackageKey result;
    std::unique_ptr<EVP_PKEY_CTX, ContextFree> context(
        EVP_PKEY_CTX_new_id(EVP_PKEY_ED25519, nullptr));
    EVP_PKEY *made = nullptr;
    if (!context || EVP_PKEY_keygen_init(context.get()) != 1
        || EVP_PKEY_keygen(context.get(), &made) != 1)
        return result;
    result.key.reset(made);
    result.hasPrivate = true;
    return result;
}

PackageKey PackageKey::fromPem(const QByteArray &pem, bool privateKey, QString *error)
{
    PackageKey result;
    Bio bio = readBio(pem);
    if (bio)
        result.key.reset(privateKey ? PEM_read_bio_PrivateKey(bio.get(), nullptr, nullptr, nullptr)
                                    : PEM_read_bio_PUBKEY(bio.get(), nullptr, nullptr, nullptr));
    result.hasPrivate = privateKey;
    if (!result.key) {
        refuse(error,
            privateKey ? QStringLiteral("not a private key in PEM form")
                       : QStringLiteral("not a public key in PEM form"));
    } else if (EVP_PKEY_id(result.key.get()) != EVP_PKEY_ED25519) {
        refuse(error, QStringLiteral("not an Ed25519 key"));
        result.key.reset();
    }
    return result;
}

PackageKey PackageKey::fromPrivatePem(const QByteArray &pem, QString *error)
{
    return fromPem(pem, true, error);
}

PackageKey PackageKey::fromPublicPem(const QByteArray &pem, QString *error)
{
    return fromPem(pem, false, error);
}

QByteArray PackageKey::privatePem() const
{
    Bio bio(BIO_new(BIO_s_mem()));
    if (!canSign() || !bio
        || PEM_write_bio_PrivateKey(bio.get(), key.get(), nullptr, nullptr, 0, nullptr, nullptr)
            != 1)
        return QByteArray();
    return bioBytes(bio.get());
}

QByteArray PackageKey::publicPem() const
{
    Bio bio(BIO_new(BIO_s_mem()));
    if (!key || !bio || PEM_write_bio_PUBKEY(bio.get(), key.get()) != 1)
        return QByteArray();
    return bioBytes(bio.get());
}

QByteArray PackageKey::id() const
{
    unsigned char raw[RawPublicKeySize];
    size_t size = sizeof raw;
    if (!key || EVP_PKEY_get_raw_public_key(key.get(), raw, &size) != 1 || size != sizeof raw)
        return QByteArray();
    Sha256 sha;
    sha.add(reinterpret_cast<const char *>(raw), size);
    return sha.hexDigest();
}

QByteArray PackageKey::sign(const QByteArray &message) const
{
    std::unique_ptr<EVP_MD_CTX, ContextFree> context(EVP_MD_CTX_new());
    QByteArray signature(int(SignatureSize), '\0');
    size_t size = SignatureSize;
    // Ed25519 hashes the message itself: no digest is named.
    if (!canSign() || !context
        || EVP_DigestSignInit(context.get(), nullptr, nullptr, nullptr, key.get()) != 1
        || EVP_DigestSign(context.get(), reinterpret_cast<unsigned char *>(signature.data()), &size,
               reinterpret_cast<const unsigned char *>(message.constData()), size_t(message.size()))
            != 1
        || size != SignatureSize)
        return QByteArray();
    return signature;
}

bool PackageKey::verify(const QByteArray &message, const QByteArray &signature) const
{
    std::unique_ptr<EVP_MD_CTX, ContextFree> context(EVP_MD_CTX_new());
    return key && context && signature.size() == int(SignatureSize)
        && EVP_DigestVerifyInit(context.get(), nullptr, nullptr, nullptr, key.get()) == 1
        && EVP_DigestVerify(context.get(),
               reinterpret_cast<const unsigned char *>(signature.constData()), SignatureSize,
               reinterpret_cast<const unsigned char *>(message.constData()), size_t(message.size()))
        == 1;
}

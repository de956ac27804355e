// libFuzzer target: any bytes as a stick's signature file, its manifest or a key file of the
// panel's key folder: what a panel with keys reads before it trusts anything on the stick.
#include "package_key.h"
#include "package_manifest.h"
#include "package_signature.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size > 1 << 20)
        return 0;
    static const PackageKey key = PackageKey::generate();
    const QByteArray bytes(reinterpret_cast<const char *>(data), static_cast<int>(size));

    // A signature file that is read is one the writer writes byte for byte: nothing the reader
    // accepts can mean two things.
    PackageSignature signature;
    if (signature.parse(bytes)) {
        if (signature.toBytes() != bytes)
            std::abort();
        if (key.verify(PackageSignature::statement(bytes, bytes), signature.signature))
            std::abort();
    }

    // A manifest that is read reads back the same once written.
    PackageManifest manifest;
    if (manifest.parse(bytes)) {
        const QByteArray written = manifest.toBytes();
        PackageManifest again;
        if (!again.parse(written) || again.toBytes() != written || again.size() != manifest.size())
            std::abort();
        manifest.setStickRoot(QStringLiteral("/media/usb0"));
        for (const auto &item : manifest.all()) {
            const QString path = QStringLiteral("/media/usb0/") + QString::fromUtf8(item.first);
            if (manifest.find(path) != &item.second)
                std::abort();
        }
    }

    (void)PackageKey::fromPublicPem(bytes).id();
    return 0;
}

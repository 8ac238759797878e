#pragma once

#include "catalogue/SignatureVerdict.h"
#include "catalogue/SigningKey.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QList>
#include <QString>
#include <QStringList>

#include <optional>

// The public keys whose signatures an image may carry, and the check of an
// image's detached signature (<image>.minisig) against them.
class TrustedKeys
{
public:
    struct Problem {
        QString path;
        QString reason;
    };

    // Name of the folder of public keys inside each data folder.
    static QString folderName() { return QStringLiteral("keys"); }
    // The key folders, installed ones first and the user's last, whether
    // they exist or not: <data folder>/zel-updater/keys.
    static QStringList standardFolders();
    // The signature file of an image.
    static QString signaturePathFor(const QString &imagePath);

    // Installed keys decide whether an unsigned image needs a question; a
    // key that is only known (the simulated devices' sample key) does not.
    void add(const SigningKey &key, bool installed = true);
    // Adds every *.pub of the folder, by name. A file that is no key is
    // returned and never trusted; a missing folder is no problem.
    QList<Problem> addFolder(const QString &folder);

    bool hasInstalledKeys() const { return m_installed.contains(true); }
    qsizetype size() const { return m_keys.size(); }
    const QList<SigningKey> &keys() const { return m_keys; }
    // The key with this id, or nothing.
    const SigningKey *find(QByteArrayView id) const;

    // Reads the image's signature file, if there is one, and checks it over
    // bytes: the image exactly as it will be sent.
    SignatureVerdict checkImage(const QString &imagePath, QByteArrayView bytes,
                                const QString &productName) const;
    // The check itself; signatureText is the signature file's contents.
    SignatureVerdict verify(QByteArrayView bytes, QByteArrayView signatureText,
                            const QString &productName) const;

    // Values of product= in a trusted comment, e.g. "product=Cove Wash
    // version=5.1.3" names "Cove Wash". A value runs to the next word=.
    static QStringList namedProducts(const QString &trustedComment);

private:
    QList<SigningKey> m_keys;
    QList<bool> m_installed; // one per key
};

// The verification code's functions for the pages' tests, while the library
// does not hash a certificate's content yet: a digest of the number and the
// records, enough for the pages to print a code of the right form.
#include "certificate/CertificateContent.h"

#include <QCryptographicHash>

namespace sf6 {

QString contentSha256(const CertificateContent& content)
{
    QByteArray bytes = content.number.toUtf8() + content.asLeft.raw;
    if (content.asFound)
        bytes += content.asFound->raw;
    return QString::fromLatin1(QCryptographicHash::hash(bytes, QCryptographicHash::Sha256).toHex());
}

QString verificationCode(const QString& sha256Hex) { return sha256Hex.left(kVerificationCodeLength).toUpper(); }

} // namespace sf6

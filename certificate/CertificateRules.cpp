#include "certificate/CertificateRules.h"

#include "certificate/CertificateContent.h"

#include <QRegularExpression>

namespace sf6 {

namespace {

// Letters that print as nothing although Unicode calls them letters.
bool isFiller(char32_t u)
{
    return u == 0x115F || u == 0x1160 || u == 0x3164 || u == 0xFFA0 || u == 0x2800 || u == 0x180E;
}

bool invisible(char32_t u)
{
    switch (QChar::category(u)) {
    case QChar::Other_Control:
    case QChar::Other_Format:
    case QChar::Other_Surrogate:
    case QChar::Other_PrivateUse:
    case QChar::Other_NotAssigned:
        return true;
    default:
        return isFiller(u);
    }
}

} // namespace

QString signerKey(const QString& name)
{
    const QString folded = name.normalized(QString::NormalizationForm_KC).toCaseFolded();
    QString out;
    for (const char32_t u : folded.toUcs4())
        if (!QChar::isSpace(u) && !invisible(u))
            out += QString::fromUcs4(&u, 1);
    return out;
}

bool sameSigner(const QString& a, const QString& b)
{
    const QString ka = signerKey(a);
    return !ka.isEmpty() && ka == signerKey(b);
}

bool hasInvisibleCharacter(const QString& text)
{
    for (const char32_t u : text.toUcs4())
        if (u != U'\n' && invisible(u))
            return true;
    return false;
}

std::optional<QString> invisibleCharacterProblem(const QString& caption, const QString& text)
{
    for (const char32_t u : text.toUcs4())
        if (u != U'\n' && invisible(u))
            return QStringLiteral("「%1」中有看不见的字符（U+%2），请重新输入")
                .arg(caption, QString::number(uint(u), 16).toUpper().rightJustified(4, u'0'));
    return std::nullopt;
}

bool validHumidity(const QString& text)
{
    static const QRegularExpression number(QStringLiteral("^[0-9]{1,3}(\\.[0-9]+)?$"));
    if (!number.match(text).hasMatch())
        return false;
    bool ok = false;
    const double value = text.toDouble(&ok);
    return ok && value >= 0 && value <= 100;
}

bool validPrefix(const QString& prefix)
{
    if (prefix.isEmpty() || prefix.size() > kMaxPrefixLength)
        return false;
    for (const QChar c : prefix)
        if (!(c.isDigit() && c.unicode() < 128) && !(c.isLetter() && c.unicode() < 128) && c != u'-')
            return false;
    return true;
}

QString verificationCodeOf(const QByteArray& sha256)
{
    static const char alphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZ234567";
    QString code;
    quint64 buffer = 0;
    int bits = 0;
    for (const char byte : sha256) {
        buffer = (buffer << 8) | quint8(byte);
        bits += 8;
        while (bits >= 5 && code.size() < kVerificationCodeLength) {
            bits -= 5;
            code += QLatin1Char(alphabet[(buffer >> bits) & 0x1F]);
        }
    }
    QStringList groups;
    for (qsizetype i = 0; i < code.size(); i += 4)
        groups << code.mid(i, 4);
    return groups.join(u'-');
}

} // namespace sf6

#pragma once
// The rules a certificate's texts keep before anything is issued: who may
// sign (three different people, however a name is typed), texts without
// invisible characters, the humidity as a number, a prefix short enough for
// the page, and the verification code printed on every page.

#include <QString>

#include <optional>

namespace sf6 {

constexpr int kMaxPrefixLength = 16;

// A name as compared: NFKC, case folded, without spaces or invisible
// characters; 'ＬＩＵ' and 'liu', '刘 工' and '刘工' are one person.
QString signerKey(const QString& name);
bool sameSigner(const QString& a, const QString& b);

// A character one cannot see on paper or on screen (zero-width, format and
// control characters, fillers): a name or text holding one is refused.
bool hasInvisibleCharacter(const QString& text);
// "「校验员」中有看不见的字符（U+200B），…" for the first text that has one.
std::optional<QString> invisibleCharacterProblem(const QString& caption, const QString& text);

// 相对湿度 as typed: a plain decimal number from 0 to 100 (%RH), kept as typed.
bool validHumidity(const QString& text);

// Letters, digits and '-', at most kMaxPrefixLength of them.
bool validPrefix(const QString& prefix);

// What stands on the pages and what a reader types back: the SHA-256 as
// base32, its first kVerificationCodeLength characters (80 bits) in groups of four.
QString verificationCodeOf(const QByteArray& sha256);

} // namespace sf6

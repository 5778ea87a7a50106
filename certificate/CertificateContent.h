#pragma once
// What a certificate says, kept exactly as it was issued: the lab profile,
// the relay entry and the reference standard in the versions it used, the
// records' raw bytes, their judgements as printed, the conditions and the
// signers. Its SHA-256 is taken over canonicalContent(); the verification
// code printed on every page is the first 80 bits of it in base32.

#include "register/Judgement.h"
#include "register/RelayEntry.h"
#include "report/ReportPage.h"

#include <QByteArray>
#include <QJsonObject>
#include <QString>

#include <optional>

namespace sf6 {

inline const QString kCertificateBasis = QStringLiteral("DL/T 259-2012");
inline const QString kDecisionRule =
    QStringLiteral("判定规则：测量值与设定值之差不超过允许误差即判为合格，未考虑测量不确定度");
inline const QString kDefaultCertificatePrefix = QStringLiteral("SF6");
constexpr int kVerificationCodeLength = 16;   // base32 characters: 80 bits

// 工具 → 实验室信息: the lab that issues certificates; every change a new version.
struct LabProfile {
    QString name, address, phone, accreditation;
    QString prefix = kDefaultCertificatePrefix;
    QString decisionRule = QString::fromLatin1(kRuleSimpleKey);   // "simple" or "guard-band"
    QString verificationAddress;   // where customers check a certificate (its QR code); empty: none
    int versionId = 0;   // 0: not stored
    int version = 0;
    QString changedAt;
};

// A calibrator the lab tests with, under its own certificate; versions kept.
struct ReferenceStandard {
    QString serial, name, model, certificate, issuer;
    QString validUntil;   // yyyy-MM-dd, empty: not given
    QString uncertainty;  // uncertainty or class, as typed
    QString expandedUncertainty, coverageFactor;   // U in MPa and k, exact texts; empty: none given
    int versionId = 0;
    int version = 0;
    QString changedAt;
};

// One record under a certificate: as left (the result) or as found (before adjustment).
struct CertifiedRecord {
    int recordId = 0;
    QByteArray raw;              // the 105 bytes as the instrument sent them
    int judgementId = 0;
    QString verdict;             // "合格" or "不合格"
    ReportConclusion conclusion; // as printed
    DecisionRule rule;           // the rule it was judged by (not part of the content: its sentence is)
    QString source;              // "仪器同步" or "导入 old.xlsx"; empty in certificates issued before it was kept
};

struct CertificateContent {
    QString number;              // <prefix>-<yyyy>-<nnnn>
    int year = 0, sequence = 0;
    QString issuedAt;            // yyyy-MM-dd HH:mm:ss
    QString issuedBy, host, program;   // OS user, computer, program that issued it
    LabProfile lab;
    RelayEntry relay;            // the version judged
    ReferenceStandard standard;
    ReportDetails details;       // the record's page as printed: title, units, relay, test date, signers
    CertifiedRecord asLeft;
    std::optional<CertifiedRecord> asFound;
    QString humidity;            // 相对湿度 as typed, e.g. "55"
    QString tester, checker, approver;   // 校验员, 核验员, 批准人 (the approver may be named at approval)
    QString decisionRule = kDecisionRule;
    QString supersedes, amendReason;     // an amendment: the number it replaces and why
    // Issued although the record's P20 disagrees with the SF6 equation, as confirmed.
    bool p20Accepted = false;
};

// What happened to a certificate after it was issued; never part of its hash.
struct CertificateState {
    QString approvedBy, approvedAt;   // empty: not approved
    QString supersededBy;             // the number of the amendment that replaced it
};
inline const QString kStateUnapproved = QStringLiteral("未批准");
inline const QString kStateApproved = QStringLiteral("已批准");
inline const QString kStateSuperseded = QStringLiteral("已替代");
QString stateText(const CertificateState& state);

// The bytes hashed: compact JSON with sorted keys, raw bytes as hex.
QByteArray canonicalContent(const CertificateContent& content);
QString contentSha256(const CertificateContent& content);   // lower-case hex
QString verificationCode(const QString& sha256Hex);        // verificationCodeOf its bytes: XXXX-XXXX-XXXX-XXXX

QJsonObject toJson(const CertificateContent& content);
Expected<CertificateContent> contentFromJson(const QJsonObject& json);

} // namespace sf6

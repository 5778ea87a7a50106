#include "certificate/CertificateContent.h"

#include "certificate/CertificateRules.h"

#include <QCryptographicHash>
#include <QJsonArray>
#include <QJsonDocument>

namespace sf6 {

namespace {

// QJsonObject keeps its keys sorted, so the compact document is canonical.
QJsonValue optionalDecimal(const std::optional<Decimal>& d) { return d ? QJsonValue(d->text()) : QJsonValue(); }

QJsonObject labJson(const LabProfile& l)
{
    QJsonObject o{{QStringLiteral("name"), l.name},
            {QStringLiteral("address"), l.address},
            {QStringLiteral("phone"), l.phone},
            {QStringLiteral("accreditation"), l.accreditation},
            {QStringLiteral("prefix"), l.prefix},
            {QStringLiteral("versionId"), l.versionId},
            {QStringLiteral("version"), l.version},
            {QStringLiteral("changedAt"), l.changedAt}};
    // Written only where it differs from what every earlier certificate had.
    if (l.decisionRule != QLatin1String(kRuleSimpleKey))
        o.insert(QStringLiteral("decisionRule"), l.decisionRule);
    return o;
}

QJsonObject relayJson(const RelayEntry& e)
{
    return {{QStringLiteral("serial"), e.serial},
            {QStringLiteral("name"), e.name},
            {QStringLiteral("model"), e.model},
            {QStringLiteral("made"), e.made},
            {QStringLiteral("client"), e.client},
            {QStringLiteral("lower"), e.lower.text()},
            {QStringLiteral("upper"), e.upper.text()},
            {QStringLiteral("classTenths"), e.classTenths},
            {QStringLiteral("alarm"), optionalDecimal(e.alarm)},
            {QStringLiteral("lock1"), optionalDecimal(e.lock1)},
            {QStringLiteral("lock2"), optionalDecimal(e.lock2)},
            {QStringLiteral("diffLimit"), optionalDecimal(e.diffLimit)},
            {QStringLiteral("intervalMonths"), e.intervalMonths},
            {QStringLiteral("versionId"), e.versionId},
            {QStringLiteral("version"), e.version},
            {QStringLiteral("changedAt"), e.changedAt}};
}

QJsonObject standardJson(const ReferenceStandard& s)
{
    QJsonObject o{{QStringLiteral("serial"), s.serial},
            {QStringLiteral("name"), s.name},
            {QStringLiteral("model"), s.model},
            {QStringLiteral("certificate"), s.certificate},
            {QStringLiteral("issuer"), s.issuer},
            {QStringLiteral("validUntil"), s.validUntil},
            {QStringLiteral("uncertainty"), s.uncertainty},
            {QStringLiteral("versionId"), s.versionId},
            {QStringLiteral("version"), s.version},
            {QStringLiteral("changedAt"), s.changedAt}};
    if (!s.expandedUncertainty.isEmpty()) {
        o.insert(QStringLiteral("expandedUncertainty"), s.expandedUncertainty);
        o.insert(QStringLiteral("coverageFactor"), s.coverageFactor);
    }
    return o;
}

QJsonObject detailsJson(const ReportDetails& d)
{
    return {{QStringLiteral("title"), d.title},
            {QStringLiteral("calibratingUnit"), d.calibratingUnit},
            {QStringLiteral("submittingUnit"), d.submittingUnit},
            {QStringLiteral("testDate"), d.testDate},
            {QStringLiteral("printDate"), d.printDate},
            {QStringLiteral("relayName"), d.relayName},
            {QStringLiteral("model"), d.model},
            {QStringLiteral("serialNumber"), d.serialNumber},
            {QStringLiteral("productionDate"), d.productionDate},
            {QStringLiteral("tester"), d.tester},
            {QStringLiteral("reviewer"), d.reviewer},
            {QStringLiteral("approver"), d.approver}};
}

QJsonObject conclusionJson(const ReportConclusion& c)
{
    QJsonArray rule, items;
    for (const auto& [caption, value] : c.rule)
        rule.append(QJsonArray{caption, value});
    for (const QStringList& item : c.items)
        items.append(QJsonArray::fromStringList(item));
    return {{QStringLiteral("line"), c.line}, {QStringLiteral("rule"), rule}, {QStringLiteral("items"), items}};
}

QJsonObject recordJson(const CertifiedRecord& r)
{
    QJsonObject o{{QStringLiteral("recordId"), r.recordId},
                  {QStringLiteral("raw"), QString::fromLatin1(r.raw.toHex())},
                  {QStringLiteral("judgementId"), r.judgementId},
                  {QStringLiteral("verdict"), r.verdict},
                  {QStringLiteral("conclusion"), conclusionJson(r.conclusion)}};
    // Only where known: certificates issued before hash as they did.
    if (!r.source.isEmpty())
        o.insert(QStringLiteral("source"), r.source);
    return o;
}

// Reading back: a field that is missing or of the wrong kind makes the whole
// content unreadable, never a silently different certificate.
class Reader {
public:
    bool ok = true;

    QString text(const QJsonObject& o, const char* key)
    {
        const QJsonValue v = o.value(QLatin1String(key));
        if (!v.isString()) {
            fail(key);
            return {};
        }
        return v.toString();
    }
    int number(const QJsonObject& o, const char* key)
    {
        const QJsonValue v = o.value(QLatin1String(key));
        if (!v.isDouble()) {
            fail(key);
            return 0;
        }
        return v.toInt();
    }
    QJsonObject object(const QJsonObject& o, const char* key)
    {
        const QJsonValue v = o.value(QLatin1String(key));
        if (!v.isObject()) {
            fail(key);
            return {};
        }
        return v.toObject();
    }
    QJsonArray array(const QJsonObject& o, const char* key)
    {
        const QJsonValue v = o.value(QLatin1String(key));
        if (!v.isArray()) {
            fail(key);
            return {};
        }
        return v.toArray();
    }
    Decimal decimal(const QJsonObject& o, const char* key)
    {
        const auto d = Decimal::parseExact(text(o, key));
        if (!d) {
            fail(key);
            return {};
        }
        return *d;
    }
    std::optional<Decimal> optionalDecimal(const QJsonObject& o, const char* key)
    {
        const QJsonValue v = o.value(QLatin1String(key));
        if (v.isNull())
            return std::nullopt;
        return decimal(o, key);
    }
    void fail(const char* key)
    {
        if (ok)
            field = QLatin1String(key);
        ok = false;
    }
    QString field;   // the first one that could not be read
};

LabProfile labFrom(Reader& r, const QJsonObject& o)
{
    LabProfile l;
    l.name = r.text(o, "name");
    l.address = r.text(o, "address");
    l.phone = r.text(o, "phone");
    l.accreditation = r.text(o, "accreditation");
    l.prefix = r.text(o, "prefix");
    l.versionId = r.number(o, "versionId");
    l.version = r.number(o, "version");
    l.changedAt = r.text(o, "changedAt");
    if (o.contains(QStringLiteral("decisionRule")))
        l.decisionRule = r.text(o, "decisionRule");
    return l;
}

RelayEntry relayFrom(Reader& r, const QJsonObject& o)
{
    RelayEntry e;
    e.serial = r.text(o, "serial");
    e.name = r.text(o, "name");
    e.model = r.text(o, "model");
    e.made = r.text(o, "made");
    e.client = r.text(o, "client");
    e.lower = r.decimal(o, "lower");
    e.upper = r.decimal(o, "upper");
    e.classTenths = r.number(o, "classTenths");
    e.alarm = r.optionalDecimal(o, "alarm");
    e.lock1 = r.optionalDecimal(o, "lock1");
    e.lock2 = r.optionalDecimal(o, "lock2");
    e.diffLimit = r.optionalDecimal(o, "diffLimit");
    e.intervalMonths = r.number(o, "intervalMonths");
    e.versionId = r.number(o, "versionId");
    e.version = r.number(o, "version");
    e.changedAt = r.text(o, "changedAt");
    return e;
}

ReferenceStandard standardFrom(Reader& r, const QJsonObject& o)
{
    ReferenceStandard s;
    s.serial = r.text(o, "serial");
    s.name = r.text(o, "name");
    s.model = r.text(o, "model");
    s.certificate = r.text(o, "certificate");
    s.issuer = r.text(o, "issuer");
    s.validUntil = r.text(o, "validUntil");
    s.uncertainty = r.text(o, "uncertainty");
    s.versionId = r.number(o, "versionId");
    s.version = r.number(o, "version");
    s.changedAt = r.text(o, "changedAt");
    if (o.contains(QStringLiteral("expandedUncertainty"))) {
        s.expandedUncertainty = r.text(o, "expandedUncertainty");
        s.coverageFactor = r.text(o, "coverageFactor");
    }
    return s;
}

ReportDetails detailsFrom(Reader& r, const QJsonObject& o)
{
    ReportDetails d;
    d.title = r.text(o, "title");
    d.calibratingUnit = r.text(o, "calibratingUnit");
    d.submittingUnit = r.text(o, "submittingUnit");
    d.testDate = r.text(o, "testDate");
    d.printDate = r.text(o, "printDate");
    d.relayName = r.text(o, "relayName");
    d.model = r.text(o, "model");
    d.serialNumber = r.text(o, "serialNumber");
    d.productionDate = r.text(o, "productionDate");
    d.tester = r.text(o, "tester");
    d.reviewer = r.text(o, "reviewer");
    d.approver = r.text(o, "approver");
    return d;
}

QStringList texts(Reader& r, const QJsonValue& v)
{
    QStringList out;
    if (!v.isArray()) {
        r.fail("items");
        return out;
    }
    for (const QJsonValue& t : v.toArray()) {
        if (!t.isString())
            r.fail("items");
        out << t.toString();
    }
    return out;
}

CertifiedRecord recordFrom(Reader& r, const QJsonObject& o)
{
    CertifiedRecord c;
    c.recordId = r.number(o, "recordId");
    const QString hex = r.text(o, "raw");
    c.raw = QByteArray::fromHex(hex.toLatin1());
    if (QString::fromLatin1(c.raw.toHex()) != hex)
        r.fail("raw");   // not lower-case hex of whole bytes
    c.judgementId = r.number(o, "judgementId");
    c.verdict = r.text(o, "verdict");
    if (o.contains(QStringLiteral("source")))
        c.source = r.text(o, "source");
    const QJsonObject conclusion = r.object(o, "conclusion");
    c.conclusion.line = r.text(conclusion, "line");
    for (const QJsonValue& pair : r.array(conclusion, "rule")) {
        const QStringList p = texts(r, pair);
        if (p.size() != 2)
            r.fail("rule");
        else
            c.conclusion.rule.emplace_back(p[0], p[1]);
    }
    for (const QJsonValue& item : r.array(conclusion, "items"))
        c.conclusion.items.push_back(texts(r, item));
    return c;
}

} // namespace

QString stateText(const CertificateState& state)
{
    if (!state.supersededBy.isEmpty())
        return kStateSuperseded;
    return state.approvedBy.isEmpty() ? kStateUnapproved : kStateApproved;
}

QJsonObject toJson(const CertificateContent& c)
{
    QJsonObject o{{QStringLiteral("number"), c.number},
            {QStringLiteral("year"), c.year},
            {QStringLiteral("sequence"), c.sequence},
            {QStringLiteral("issuedAt"), c.issuedAt},
            {QStringLiteral("issuedBy"), c.issuedBy},
            {QStringLiteral("host"), c.host},
            {QStringLiteral("program"), c.program},
            {QStringLiteral("lab"), labJson(c.lab)},
            {QStringLiteral("relay"), relayJson(c.relay)},
            {QStringLiteral("standard"), standardJson(c.standard)},
            {QStringLiteral("details"), detailsJson(c.details)},
            {QStringLiteral("asLeft"), recordJson(c.asLeft)},
            {QStringLiteral("asFound"), c.asFound ? QJsonValue(recordJson(*c.asFound)) : QJsonValue()},
            {QStringLiteral("humidity"), c.humidity},
            {QStringLiteral("tester"), c.tester},
            {QStringLiteral("checker"), c.checker},
            {QStringLiteral("approver"), c.approver},
            {QStringLiteral("decisionRule"), c.decisionRule},
            {QStringLiteral("supersedes"), c.supersedes},
            {QStringLiteral("amendReason"), c.amendReason}};
    // Only where it was confirmed: certificates issued before keep their hash.
    if (c.p20Accepted)
        o.insert(QStringLiteral("p20Accepted"), true);
    return o;
}

Expected<CertificateContent> contentFromJson(const QJsonObject& o)
{
    Reader r;
    CertificateContent c;
    c.number = r.text(o, "number");
    c.year = r.number(o, "year");
    c.sequence = r.number(o, "sequence");
    c.issuedAt = r.text(o, "issuedAt");
    c.issuedBy = r.text(o, "issuedBy");
    c.host = r.text(o, "host");
    c.program = r.text(o, "program");
    c.lab = labFrom(r, r.object(o, "lab"));
    c.relay = relayFrom(r, r.object(o, "relay"));
    c.standard = standardFrom(r, r.object(o, "standard"));
    c.details = detailsFrom(r, r.object(o, "details"));
    c.asLeft = recordFrom(r, r.object(o, "asLeft"));
    if (!o.value(QStringLiteral("asFound")).isNull())
        c.asFound = recordFrom(r, r.object(o, "asFound"));
    c.humidity = r.text(o, "humidity");
    c.tester = r.text(o, "tester");
    c.checker = r.text(o, "checker");
    c.approver = r.text(o, "approver");
    c.decisionRule = r.text(o, "decisionRule");
    c.supersedes = r.text(o, "supersedes");
    c.amendReason = r.text(o, "amendReason");
    c.p20Accepted = o.value(QStringLiteral("p20Accepted")).toBool();
    if (!r.ok)
        return Status::failure(ErrorCode::ArchiveDamaged, QStringLiteral("证书内容无法读取（字段 %1）").arg(r.field));
    return c;
}

QByteArray canonicalContent(const CertificateContent& content)
{
    return QJsonDocument(toJson(content)).toJson(QJsonDocument::Compact);
}

QString contentSha256(const CertificateContent& content)
{
    return QString::fromLatin1(QCryptographicHash::hash(canonicalContent(content), QCryptographicHash::Sha256).toHex());
}

QString verificationCode(const QString& sha256Hex)
{
    return verificationCodeOf(QByteArray::fromHex(sha256Hex.toLatin1()));
}

} // namespace sf6

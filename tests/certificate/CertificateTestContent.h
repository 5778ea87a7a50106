#pragma once
// A certificate's content made by hand, as the archive would hand it to the
// pages: records as the instrument's bytes, judgements as printed.

#include "certificate/CertificateContent.h"
#include "sim/Records.h"
#include "sync/TestRecord.h"

#include <random>

namespace certtest {

// Each record its own readings: a cell showing the other record's value cannot pass.
inline QByteArray recordBytes(int id, int day, uint16_t temperatureTenths)
{
    std::mt19937 rng{uint32_t(id)};
    sim::RecordFields f = sim::plausibleRecord(0, rng);
    f.year = 26;
    f.month = 3;
    f.day = int8_t(day);
    f.temperatureTenths = temperatureTenths;
    return sim::encodeRecord(f);
}

inline sf6::ListRow rowOf(const sf6::CertifiedRecord& r)
{
    return sf6::decodeRecord(reinterpret_cast<const unsigned char*>(r.raw.constData()), r.recordId);
}

inline sf6::ReportConclusion conclusion(const QString& verdict, int items)
{
    sf6::ReportConclusion c;
    c.line = QStringLiteral("结论：%1（依据DL/T 259-2012；准确度等级1.6级，量程-0.100～0.900MPa，允许误差±0.016MPa）").arg(verdict);
    c.rule = {{QStringLiteral("判定依据"), QStringLiteral("DL/T 259-2012")},
              {QStringLiteral("准确度等级"), QStringLiteral("1.6级")},
              {QStringLiteral("量程"), QStringLiteral("-0.100～0.900MPa")},
              {QStringLiteral("允许误差"), QStringLiteral("±0.016MPa")},
              {QStringLiteral("切换差限值"), QStringLiteral("±0.016MPa")}};
    for (int i = 0; i < items; ++i)
        c.items.push_back({QStringLiteral("闭锁%1").arg(i + 1), QStringLiteral("第一次"), QStringLiteral("0.500"),
                           QStringLiteral("0.50%1").arg(i % 10), QStringLiteral("0.00%1").arg(i % 10),
                           QStringLiteral("±0.016"), QStringLiteral("0.030"), QStringLiteral("±0.016"), verdict});
    return c;
}

inline sf6::CertifiedRecord certified(int id, int day, uint16_t temperatureTenths, const QString& verdict)
{
    sf6::CertifiedRecord r;
    r.recordId = id;
    r.raw = recordBytes(id, day, temperatureTenths);
    r.judgementId = id;
    r.verdict = verdict;
    r.conclusion = conclusion(verdict, 9);
    return r;
}

inline sf6::CertificateContent plainContent()
{
    sf6::CertificateContent c;
    c.number = QStringLiteral("SF6-2026-0001");
    c.year = 2026;
    c.sequence = 1;
    c.issuedAt = QStringLiteral("2026-03-02 10:15:00");
    c.issuedBy = QStringLiteral("zhangsan");
    c.lab.name = QStringLiteral("华东电力计量校验中心");
    c.lab.address = QStringLiteral("上海市浦东新区张江路100号");
    c.lab.phone = QStringLiteral("021-55550123");
    c.lab.accreditation = QStringLiteral("CNAS L1234");
    c.relay.serial = QStringLiteral("R-778");
    c.standard.serial = QStringLiteral("STD-01");
    c.standard.name = QStringLiteral("数字压力校验仪");
    c.standard.model = QStringLiteral("ConST211");
    c.standard.certificate = QStringLiteral("JZ2025-0456");
    c.standard.issuer = QStringLiteral("上海市计量测试技术研究院");
    c.standard.validUntil = QStringLiteral("2026-12-31");
    c.standard.uncertainty = QStringLiteral("0.02级");
    c.asLeft = certified(41, 1, 215, QStringLiteral("合格"));
    c.details = sf6::defaultReportDetails(QStringLiteral("2026-03-02"));
    c.details.testDate = sf6::testDateOfRow(rowOf(c.asLeft));
    c.details.serialNumber = c.relay.serial;
    c.humidity = QStringLiteral("55");
    c.tester = QStringLiteral("张三");
    c.checker = QStringLiteral("李四");
    c.approver = QStringLiteral("王五");
    return c;
}

// Found out of limits on 28 February at 18.0 °C, adjusted, and passed on 1 March.
inline sf6::CertificateContent adjustedContent()
{
    sf6::CertificateContent c = plainContent();
    c.asFound = certified(40, 28, 180, QStringLiteral("不合格"));
    c.asFound->raw[sf6::kRecMonth] = 2;
    return c;
}

inline sf6::CertificateContent amendment()
{
    sf6::CertificateContent c = plainContent();
    c.number = QStringLiteral("SF6-2026-0002");
    c.sequence = 2;
    c.supersedes = QStringLiteral("SF6-2026-0001");
    c.amendReason = QStringLiteral("送检单位名称有误");
    return c;
}

} // namespace certtest

#include "register/P20Check.h"

#include "register/Sf6Gas.h"
#include "view/Blanking.h"

#include <QLocale>

#include <algorithm>
#include <cmath>

namespace sf6 {

namespace {

constexpr int kPositions = 24;
constexpr int kPtOffset = 24;          // Pt column of position k: P20 column + 24
constexpr int kFirstTrialPosition = 6; // positions 6..23: three trials of six quantities
constexpr int kTrials = 3;
constexpr int kMessageDecimals = 3;
constexpr int kMaxRecordsNamed = 5;    // a sync message names no more, then counts the rest
const QString kCelsiusSuffix = QStringLiteral("°C");

int trialOf(int position) { return position < kFirstTrialPosition ? 0 : (position - kFirstTrialPosition) % kTrials + 1; }

Decimal rounded(double mpa)
{
    constexpr double kPerUnit = 10000;   // 10^kP20ComputedDecimals
    constexpr int64_t kNanoPerUnit = Decimal::kScale / 10000;
    return Decimal::fromNano(std::llround(mpa * kPerUnit) * kNanoPerUnit);
}

double toDouble(Decimal d) { return double(d.nano()) / double(Decimal::kScale); }

P20Check unchecked(P20Check c, QString reason)
{
    c.state = P20State::Unchecked;
    c.reason = std::move(reason);
    c.items.clear();
    return c;
}

} // namespace

QString P20Check::stateText() const
{
    switch (state) {
    case P20State::Agrees: return kP20Agrees;
    case P20State::Disagrees: return kP20Disagrees;
    case P20State::Unchecked: break;
    }
    return kP20Unchecked;
}

const P20Item* P20Check::largest() const
{
    const auto it = std::max_element(items.begin(), items.end(), [](const P20Item& a, const P20Item& b) {
        return a.deviation.abs() < b.deviation.abs();
    });
    return it == items.end() ? nullptr : &*it;
}

std::vector<P20Item> P20Check::disagreeing() const
{
    std::vector<P20Item> out;
    std::copy_if(items.begin(), items.end(), std::back_inserter(out), [](const P20Item& i) { return !i.agrees(); });
    return out;
}

P20Check checkP20(const ListRow& row)
{
    P20Check c;
    c.temperatureText = row.value(kColTemperature);
    QString t = c.temperatureText.trimmed();
    if (t.endsWith(kCelsiusSuffix))
        t.chop(kCelsiusSuffix.size());
    const std::optional<Decimal> celsius = Decimal::parse(t);
    if (!celsius)
        return unchecked(c, QStringLiteral("温度“%1”不是数值").arg(c.temperatureText));
    const double tC = toDouble(*celsius);
    if (tC < kGasMinCelsius || tC > kGasMaxCelsius)
        return unchecked(c, QStringLiteral("温度%1超出SF6状态方程的适用范围（%2～%3）")
                                .arg(c.temperatureText, celsiusText(kGasMinCelsius), celsiusText(kGasMaxCelsius)));

    bool countOk = false;
    const int count = row.value(kColTestCount).toInt(&countOk);
    const int trialsRun = countOk ? count : 0;
    const QStringList& captions = columnCaptions();
    for (int k = 0; k < kPositions; ++k) {
        const int p20Column = kFirstValueColumn + k, ptColumn = p20Column + kPtOffset;
        const QString p20Text = row.value(p20Column), ptText = row.value(ptColumn);
        const bool p20Zero = isZeroReading(p20Text), ptZero = isZeroReading(ptText);
        const int trial = trialOf(k);
        if (trial > trialsRun && trial > 0 && (p20Zero || ptZero))
            continue;   // a trial not run
        if (p20Zero && ptZero)
            continue;   // nothing measured
        const std::optional<Decimal> pt = Decimal::parse(ptText), p20 = Decimal::parse(p20Text);
        if (!pt || !p20)
            return unchecked(c, QStringLiteral("%1的读数“%2”不是数值").arg(captions[pt ? p20Column : ptColumn],
                                                                            pt ? p20Text : ptText));
        const Expected<double> computed = p20FromPt(toDouble(*pt), tC);
        if (!computed)
            return unchecked(c, captions[ptColumn] + QStringLiteral("：") + computed.error());
        P20Item item;
        item.position = k;
        item.caption = captions[p20Column];
        item.ptText = ptText;
        item.p20Text = p20Text;
        item.pt = *pt;
        item.p20 = *p20;
        item.computed = rounded(*computed);
        item.deviation = *p20 - item.computed;
        c.items.push_back(item);
    }
    if (c.items.empty())
        return unchecked(c, QStringLiteral("记录中没有可核查的读数"));
    c.state = c.disagreeing().empty() ? P20State::Agrees : P20State::Disagrees;
    return c;
}

QString deviationText(Decimal d)
{
    return (d.nano() < 0 ? QStringLiteral("-") : QStringLiteral("+")) + d.abs().fixedText(kMessageDecimals)
        + QStringLiteral("MPa");
}

QString p20CheckLine(const P20Check& c)
{
    const QString head = QStringLiteral("P20换算核查：");
    if (c.state == P20State::Unchecked)
        return head + kP20Unchecked + QStringLiteral("（") + c.reason + QStringLiteral("）");
    const std::vector<P20Item> off = c.disagreeing();
    if (off.empty())
        return head + QStringLiteral("%1项一致，最大偏差%2MPa")
                          .arg(c.items.size())
                          .arg(c.largest()->deviation.abs().fixedText(kMessageDecimals));
    QStringList named;
    for (const P20Item& i : off)
        named << i.caption + QStringLiteral("偏差") + deviationText(i.deviation);
    return head + QStringLiteral("%1项不一致（%2），%3项一致")
                      .arg(off.size())
                      .arg(named.join(QStringLiteral("，")))
                      .arg(c.items.size() - off.size());
}

QString p20SyncMessage(const std::vector<SyncedCheck>& checks)
{
    QStringList lines;
    int more = 0;
    for (const SyncedCheck& s : checks) {
        if (s.check.state != P20State::Disagrees)
            continue;
        if (lines.size() == kMaxRecordsNamed) {
            ++more;
            continue;
        }
        // The item furthest off names the record's fault; a count says how many more.
        const std::vector<P20Item> off = s.check.disagreeing();
        const P20Item& worst = *std::max_element(off.begin(), off.end(), [](const P20Item& a, const P20Item& b) {
            return a.deviation.abs() < b.deviation.abs();
        });
        QString what = worst.caption + QStringLiteral("偏差") + deviationText(worst.deviation);
        if (off.size() > 1)
            what += QStringLiteral("等%1项").arg(off.size());
        lines << QStringLiteral("第%1条记录的P20换算与SF6状态方程不符（%2），请检查校验仪的温度测量").arg(s.number).arg(what);
    }
    if (more > 0)
        lines << QStringLiteral("另有%1条记录的P20换算与SF6状态方程不符").arg(more);
    return lines.join(u'\n');
}

QString p20SyncMessage(const std::vector<ListRow>& rows)
{
    std::vector<SyncedCheck> checks;
    checks.reserve(rows.size());
    for (const ListRow& r : rows)
        checks.push_back({r.value(kColNumber).toInt(), checkP20(r)});
    return p20SyncMessage(checks);
}

} // namespace sf6

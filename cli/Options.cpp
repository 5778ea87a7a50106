#include "cli/Options.h"

#include <QDate>
#include <QLocale>

namespace cli {

namespace {

const char* const kPathOptions[] = {"tsv", "json", "xlsx", "pdf-dir", "pdf", "archive", "png",
                                    "import-key", "export-certificate", "passwords", "trust"};

struct DetailOption {
    const char* name;
    QString sf6::ReportDetails::*field;
};

// The report dialog's fields; their help is in kOptions.
const DetailOption kDetailOptions[] = {
    {"title", &sf6::ReportDetails::title},
    {"unit", &sf6::ReportDetails::calibratingUnit},
    {"client", &sf6::ReportDetails::submittingUnit},
    {"relay", &sf6::ReportDetails::relayName},
    {"model", &sf6::ReportDetails::model},
    {"serial", &sf6::ReportDetails::serialNumber},
    {"made", &sf6::ReportDetails::productionDate},
    {"tester", &sf6::ReportDetails::tester},
    {"reviewer", &sf6::ReportDetails::reviewer},
    {"approver", &sf6::ReportDetails::approver},
};

sf6::Expected<std::optional<QDate>> dateOption(const QCommandLineParser& p, const char* name)
{
    if (!p.isSet(QLatin1String(name)))
        return std::optional<QDate>();
    const QDate d = QDate::fromString(p.value(QLatin1String(name)), QStringLiteral("yyyy-MM-dd"));
    if (!d.isValid())
        return sf6::Status::failure(sf6::ErrorCode::Usage, QStringLiteral("--%1 的日期应写成 YYYY-MM-DD").arg(QLatin1String(name)));
    return std::optional<QDate>(d);
}

} // namespace

const std::vector<OptionSpec>& optionSpecs()
{
    static const std::vector<OptionSpec> kOptions = {
        {"port", "NAME", QStringLiteral("试探这个串口，而不是系统的串口列表（可重复；空名不试探任何串口）")},
        {"tsv", "FILE", QStringLiteral("写成制表符分隔的文本（- 为标准输出）")},
        {"json", "FILE", QStringLiteral("写成 JSON（- 为标准输出）")},
        {"xlsx", "FILE", QStringLiteral("写成工作簿（.xlsx）")},
        {"pdf-dir", "DIR", QStringLiteral("每条记录一份报表 PDF，写入文件夹 DIR")},
        {"pdf", "FILE", QStringLiteral("写成一个 PDF 文件")},
        {"records", "N", QStringLiteral("demo：模拟记录的条数（0 到 255，默认 12）；archive link/unlink：档案号，例如 1,2,5-9"), "12"},
        {"archive", "LOCATION", QStringLiteral("存档：SQLite 文件，或 postgresql://用户@主机:端口/数据库名"
                                               "（默认为环境变量 SF6_ARCHIVE，否则为用户的存档）")},
        {"no-archive", nullptr, QStringLiteral("不使用存档")},
        {"from", "YYYY-MM-DD", QStringLiteral("只取这一天及以后的测试；archive restore：备份文件；archive merge：要并入的存档文件（可给多个）")},
        {"to", "YYYY-MM-DD", QStringLiteral("只取这一天及以前的测试；archive copy：目标存档；archive backup：备份文件")},
        {"text", "TEXT", QStringLiteral("报表的继电器或单位信息、或所关联继电器的台账信息中含有这段文字")},
        {"record", "N", QStringLiteral("记录的档案号（link/unlink 可重复）")},
        {"no-store", nullptr, QStringLiteral("只显示判定，不保存")},
        {"name", "TEXT", QStringLiteral("名称：继电器名称、校验单位名称或标准器名称")},
        {"range", "LO,HI", QStringLiteral("量程，MPa（默认 -0.1,0.9）")},
        {"class", "C", QStringLiteral("准确度等级：1.0、1.6 或 2.5")},
        {"alarm", "V", QStringLiteral("报警触点在20°C时的设定值，MPa（留空不判定）")},
        {"lock1", "V", QStringLiteral("闭锁1触点在20°C时的设定值，MPa（留空不判定）")},
        {"lock2", "V", QStringLiteral("闭锁2触点在20°C时的设定值，MPa（留空不判定）")},
        {"diff-limit", "V", QStringLiteral("切换差限值，MPa（留空则等于允许误差）")},
        {"interval-months", "N", QStringLiteral("校验周期，月（默认 12）")},
        {"png", "FILE", QStringLiteral("趋势图写成 PNG 图片")},
        {"address", "TEXT", QStringLiteral("实验室地址")},
        {"phone", "TEXT", QStringLiteral("实验室电话")},
        {"accreditation", "TEXT", QStringLiteral("授权/认可证书号")},
        {"prefix", "TEXT", QStringLiteral("证书编号前缀（字母、数字和“-”，默认 SF6）")},
        {"certificate", "TEXT", QStringLiteral("archive standard：标准器的证书编号；approve/amend/verify：证书编号")},
        {"issuer", "TEXT", QStringLiteral("标准器证书的发证单位")},
        {"valid-until", "YYYY-MM-DD", QStringLiteral("标准器证书的有效期至")},
        {"uncertainty", "TEXT", QStringLiteral("标准器的不确定度或准确度等级（照原样打印）")},
        {"standard", "S", QStringLiteral("标准器编号（archive judge：保护带所用 U 的标准器）")},
        {"checker", "TEXT", QStringLiteral("核验员（不能与校验员是同一人）")},
        {"humidity", "H", QStringLiteral("相对湿度，%")},
        {"as-found", "M", QStringLiteral("同一继电器调整前的记录的档案号")},
        {"accept-imported", nullptr, QStringLiteral("archive certify/amend：记录的数据来自导入的文件而不是仪器时，确认后仍出具")},
        {"reason", "TEXT", QStringLiteral("替代证书的原因")},
        {"trust", "FILE", QStringLiteral("archive verify、verify-pdf：存档外保存的实验室证书（PEM 或 DER），用来核对存档中的和签名人的证书链")},
        {"number", "NO", QStringLiteral("要重新打印的证书编号")},
        {"title", "TEXT", QStringLiteral("报表标题")},
        {"unit", "TEXT", QStringLiteral("校验单位")},
        {"client", "TEXT", QStringLiteral("送检单位")},
        {"relay", "TEXT", QStringLiteral("继电器名称")},
        {"model", "TEXT", QStringLiteral("型号")},
        {"serial", "TEXT", QStringLiteral("编号：继电器编号（报表中的编号）或标准器编号")},
        {"made", "TEXT", QStringLiteral("生产日期")},
        {"tester", "TEXT", QStringLiteral("校验员")},
        {"reviewer", "TEXT", QStringLiteral("核验员（报表）")},
        {"approver", "TEXT", QStringLiteral("批准人")},
        {"pt", "V", QStringLiteral("p20：在 --temp 温度下显示的压力（表压，MPa），求 P20")},
        {"p20", "V", QStringLiteral("p20：20°C 时的压力（表压，MPa），求 --temp 温度下的 Pt")},
        {"temp", "C", QStringLiteral("p20：温度，°C（-40 到 80）")},
        {"verification-address", "URL", QStringLiteral("archive lab：核验地址，客户核对证书的网址，印在证书的二维码中（留空为没有）")},
        {"decision-rule", "RULE", QStringLiteral("archive lab：判定规则，simple（简单接受）或 guard-band（保护带，w = U）")},
        {"expanded-uncertainty", "U", QStringLiteral("archive standard：扩展不确定度 U，MPa（留空为没有）")},
        {"coverage-factor", "K", QStringLiteral("archive standard：U 的包含因子 k（默认 2）")},
        {"auto", nullptr, QStringLiteral("archive backup：同窗口启动时——最新的备份已超过间隔才备份，并删除超出保留份数的旧备份")},
        {"folder", "DIR", QStringLiteral("archive backup-settings：备份文件夹（空文字为存档旁的 backups 文件夹）")},
        {"interval-days", "N", QStringLiteral("archive backup-settings：自动备份的间隔，天（默认 1）")},
        {"keep", "N", QStringLiteral("archive backup-settings：保留最新的几份自动备份（默认 30）")},
        {"accept-p20", nullptr, QStringLiteral("archive certify/amend：记录的 P20 与 SF6 状态方程不符时，确认后仍出具")},
        {"create-key", nullptr, QStringLiteral("archive lab：为实验室生成签名密钥（用实验室的密码加密保存）")},
        {"import-key", "FILE", QStringLiteral("archive lab：导入实验室已有的 .pfx/.p12 密钥和证书")},
        {"export-certificate", "FILE", QStringLiteral("archive lab：把实验室证书写入文件，存放在存档以外（verify --trust 用）")},
        {"passwords", "FILE", QStringLiteral("密码文件：每行“姓名<TAB>密码”，实验室的一行名为“实验室”；只许本人读取（chmod 600）")},
        {"roles", "LIST", QStringLiteral("archive person：角色，用逗号分隔：校验员,核验员,批准人")},
        {"retire", nullptr, QStringLiteral("archive person：停用此人（不删除，已签的仍有效）")},
        {"new-password", nullptr, QStringLiteral("archive person：改自己的密码（不需要实验室的密码）")},
        {"new-key", nullptr, QStringLiteral("archive person：忘记密码时换新密钥和证书（需要实验室的密码）")},
    };
    return kOptions;
}

const OptionSpec* findOption(const QString& name)
{
    for (const OptionSpec& o : optionSpecs())
        if (name == QLatin1String(o.name))
            return &o;
    return nullptr;
}

void addOptions(QCommandLineParser& p)
{
    for (const OptionSpec& o : optionSpecs()) {
        QCommandLineOption option(QString::fromLatin1(o.name), o.help);
        if (o.valueName)
            option.setValueName(QString::fromLatin1(o.valueName));
        if (o.defaultValue)
            option.setDefaultValue(QString::fromLatin1(o.defaultValue));
        p.addOption(option);
    }
}

std::optional<QString> emptyPathOption(const QCommandLineParser& p)
{
    for (const char* o : kPathOptions)
        if (p.optionNames().contains(QLatin1String(o)) && p.value(QLatin1String(o)).isEmpty())
            return QString::fromLatin1(o);
    return std::nullopt;
}

sf6::ops::GivenDetails givenDetails(const QCommandLineParser& p)
{
    sf6::ops::GivenDetails given;
    for (const DetailOption& o : kDetailOptions)
        if (p.isSet(QLatin1String(o.name)))
            given.fields.emplace_back(o.field, p.value(QLatin1String(o.name)));
    return given;
}

sf6::Expected<sf6::ArchiveLocation> archiveLocation(const QCommandLineParser& p, bool forDemo)
{
    if (p.isSet(QStringLiteral("archive")) && p.isSet(QStringLiteral("no-archive")))
        return sf6::Status::failure(sf6::ErrorCode::Usage, QStringLiteral("--archive 与 --no-archive 不能同时使用"));
    const std::optional<QString> option =
        p.isSet(QStringLiteral("archive")) ? std::optional<QString>(p.value(QStringLiteral("archive"))) : std::nullopt;
    return sf6::ArchiveLocation::choose(option, p.isSet(QStringLiteral("no-archive")), forDemo);
}

sf6::Expected<sf6::ArchiveFilter> archiveFilter(const QCommandLineParser& p)
{
    sf6::ArchiveFilter f;
    auto from = dateOption(p, "from");
    auto to = dateOption(p, "to");
    if (!from)
        return from.status();
    if (!to)
        return to.status();
    if (*from && *to && **from > **to)
        return sf6::Status::failure(sf6::ErrorCode::Usage, QStringLiteral("--from %1 晚于 --to %2：没有日期能同时满足两者")
                                        .arg(p.value(QStringLiteral("from")), p.value(QStringLiteral("to"))));
    f.from = *from;
    f.to = *to;
    f.text = p.value(QStringLiteral("text"));
    return f;
}

} // namespace cli

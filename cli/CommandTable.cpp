#include "cli/CommandTable.h"

#include "cli/Commands.h"
#include "cli/Help.h"
#include "cli/Options.h"
#include "cli/Output.h"

namespace cli {

namespace {

bool noStore(const QCommandLineParser& p) { return p.isSet(QStringLiteral("no-store")); }

// archive lab without a field to change only shows the lab.
bool noLabField(const QCommandLineParser& p)
{
    for (const char* o : {"name", "address", "phone", "accreditation", "prefix", "decision-rule", "verification-address", "create-key", "import-key"})
        if (p.isSet(QLatin1String(o)))
            return false;
    return true;
}

// --from, --to and --text, for the commands that list records.
template <class ArchiveRef>
int withFilter(const Invocation& i, int (*handler)(const QCommandLineParser&, ArchiveRef, const sf6::ArchiveFilter&))
{
    const auto filter = archiveFilter(i.options);
    if (!filter)
        return fail(filter.status());
    return handler(i.options, *i.archive, *filter);
}

} // namespace

const std::vector<Command>& commands()
{
    static const std::vector<Command> kCommands = {
        {QStringLiteral("help"),
         QStringLiteral("[命令]"),
         QStringLiteral("显示帮助：全部命令，或一个命令的用法和选项"),
         ArchiveUse::None, Writes::No, nullptr,
         {},
         helpCommand,
         QStringLiteral(R"roff(The commands, a line each; with a command's name (\fBsf6cli help archive link\fR), its options. Also \fBsf6cli\fR \fIcommand\fR \fB\-\-help\fR.
)roff")},
        {QStringLiteral("ports"),
         QString(),
         QStringLiteral("列出扫描时要试探的串口，按扫描顺序"),
         ArchiveUse::None, Writes::No, nullptr,
         {QStringLiteral("port")},
         [](const Invocation&) { return portsCommand(); },
         QStringLiteral(R"roff(The ports a scan would try, in scan order.
)roff")},
        {QStringLiteral("connect"),
         QString(),
         QStringLiteral("查找校验仪：输出应答的串口和端口类型，试过的每个串口的失败原因写到标准错误"),
         ArchiveUse::None, Writes::No, nullptr,
         {QStringLiteral("port")},
         [](const Invocation&) { return connectCommand(); },
         QStringLiteral(R"roff(Find the calibrator: prints
\fINAME\fR<TAB>\fIKIND\fR
of the answering port; every refused port is named on standard error with the reason.
)roff")},
        {QStringLiteral("sync"),
         QString(),
         QStringLiteral("联机，下载全部测试记录并存档，写出要求的输出文件"),
         ArchiveUse::None, Writes::Yes, nullptr,
         {QStringLiteral("port"), QStringLiteral("tsv"), QStringLiteral("json"), QStringLiteral("xlsx"), QStringLiteral("pdf-dir"), QStringLiteral("archive"), QStringLiteral("no-archive"), QStringLiteral("title"), QStringLiteral("unit"), QStringLiteral("client"), QStringLiteral("relay"), QStringLiteral("model"), QStringLiteral("serial"), QStringLiteral("made"), QStringLiteral("tester"), QStringLiteral("reviewer"), QStringLiteral("approver")},
         [](const Invocation& i) { return syncCommand(i.options, false); },
         QStringLiteral(R"roff(Connect, download every record, archive them, and write the outputs asked for.
A sync that brings no record writes no output.
)roff")},
        {QStringLiteral("demo"),
         QString(),
         QStringLiteral("同 sync，对象是程序内模拟的校验仪（端口 DEMO）"),
         ArchiveUse::None, Writes::Yes, nullptr,
         {QStringLiteral("records"), QStringLiteral("port"), QStringLiteral("tsv"), QStringLiteral("json"), QStringLiteral("xlsx"), QStringLiteral("pdf-dir"), QStringLiteral("archive"), QStringLiteral("no-archive"), QStringLiteral("title"), QStringLiteral("unit"), QStringLiteral("client"), QStringLiteral("relay"), QStringLiteral("model"), QStringLiteral("serial"), QStringLiteral("made"), QStringLiteral("tester"), QStringLiteral("reviewer"), QStringLiteral("approver")},
         [](const Invocation& i) { return syncCommand(i.options, true); },
         QStringLiteral(R"roff(As
.BR sync ,
against a simulated calibrator served inside the program, on its port DEMO.
)roff")},
        {QStringLiteral("p20"),
         QString(),
         QStringLiteral("SF6压力换算：由 Pt 和温度求 P20，或由 P20 求该温度下的 Pt"),
         ArchiveUse::None, Writes::No, nullptr,
         {QStringLiteral("pt"), QStringLiteral("p20"), QStringLiteral("temp"), QStringLiteral("json")},
         [](const Invocation& i) { return p20Command(i.options); },
         QStringLiteral(R"roff(The SF6 conversion of DL/T 259\-2012 Appendix C:
.BI \-\-pt " V " \-\-temp " C"
prints the P20 of a pressure V (gauge MPa) shown at C \(deC;
.BI \-\-p20 " V " \-\-temp " C"
prints the Pt a relay set at P20 = V shows at C. Three decimals; four with
.BR \-\-json .
From \-40 to 80 \(deC and \-0.1 to 10 MPa; outside, or where SF6 is no gas, it says so and exits 2.
)roff")},
        {QStringLiteral("verify-pdf"),
         QStringLiteral("FILE..."),
         QStringLiteral("核对证书PDF：签名、签名人的证书链、签名是否覆盖整个文件；有存档时核对内容与是否已被替代"),
         ArchiveUse::None, Writes::No, nullptr,
         {QStringLiteral("trust"), QStringLiteral("archive")},
         [](const Invocation& i) { return verifyPdfCommand(i.options, i.arguments); },
         QStringLiteral(R"roff(Check a certificate's PDF as its customer received it: the signature over the whole file, the
signer's certificate chained to the lab certificate
.RB ( \-\-trust " FILE,"
kept outside the archive; without it the archive's when one is given, else the one the file carries, and it
says so) and, with
.BI \-\-archive " LOCATION" ,
that the certificate's content is the stored one and it is not superseded. Prints the signer, the signer
certificate's fingerprint, the signing time and the number; exits 7 naming the finding: altered, not signed,
unknown signer, not in the archive, superseded.
)roff")},
        {QStringLiteral("archive list"),
         QString(),
         QStringLiteral("列出存档中的记录，最新的测试在前"),
         ArchiveUse::Opened, Writes::No, nullptr,
         {QStringLiteral("from"), QStringLiteral("to"), QStringLiteral("text"), QStringLiteral("tsv"), QStringLiteral("json"), QStringLiteral("archive")},
         [](const Invocation& i) { return withFilter(i, listCommand); },
         QStringLiteral(R"roff(The archived records, newest test first: archive number, archiving time, then the list's columns 1 to 52.
)roff")},
        {QStringLiteral("archive export"),
         QString(),
         QStringLiteral("把存档中的记录导出为工作簿（A列为档案号）"),
         ArchiveUse::Opened, Writes::No, nullptr,
         {QStringLiteral("from"), QStringLiteral("to"), QStringLiteral("text"), QStringLiteral("xlsx"), QStringLiteral("archive")},
         [](const Invocation& i) { return withFilter(i, exportCommand); },
         QStringLiteral(R"roff(The archived records as a workbook
.RB ( \-\-xlsx ),
column A the archive number.
)roff")},
        {QStringLiteral("archive report"),
         QString(),
         QStringLiteral("为存档中的每条记录生成报表 PDF，新的报表保存在存档中"),
         ArchiveUse::Opened, Writes::IfItCan, nullptr,
         {QStringLiteral("from"), QStringLiteral("to"), QStringLiteral("text"), QStringLiteral("pdf"), QStringLiteral("pdf-dir"), QStringLiteral("archive"), QStringLiteral("title"), QStringLiteral("unit"), QStringLiteral("client"), QStringLiteral("relay"), QStringLiteral("model"), QStringLiteral("serial"), QStringLiteral("made"), QStringLiteral("tester"), QStringLiteral("reviewer"), QStringLiteral("approver")},
         [](const Invocation& i) { return withFilter(i, reportCommand); },
         QStringLiteral(R"roff(One report a record
.RB ( \-\-pdf " one file, " \-\-pdf\-dir " one file each);"
a record's latest report is reprinted exactly, options override it; a judged record's report has two pages.
)roff")},
        {QStringLiteral("archive syncs"),
         QString(),
         QStringLiteral("列出每一次同步和导入"),
         ArchiveUse::Opened, Writes::No, nullptr,
         {QStringLiteral("tsv"), QStringLiteral("json"), QStringLiteral("archive")},
         [](const Invocation& i) { return syncsCommand(i.options, *i.archive); },
         QStringLiteral(R"roff(Every sync: when, the port, records announced and received, how it ended, how many were new.
An import is logged as a sync of the program import: its port is the file's name, records announced the rows
read, and it adds the file's SHA-256 and the rows that could not be imported.
The outcome reads 完成, 中断, 连接断开 or 无记录 in TSV; JSON keeps the names complete, stalled,
link_lost and empty.
)roff")},
        {QStringLiteral("archive relay"),
         QString(),
         QStringLiteral("新建或修改继电器台账中的一只继电器（每次修改保存为新版本）"),
         ArchiveUse::Opened, Writes::Yes, nullptr,
         {QStringLiteral("serial"), QStringLiteral("name"), QStringLiteral("model"), QStringLiteral("made"), QStringLiteral("client"), QStringLiteral("range"), QStringLiteral("class"), QStringLiteral("alarm"), QStringLiteral("lock1"), QStringLiteral("lock2"), QStringLiteral("diff-limit"), QStringLiteral("interval-months"), QStringLiteral("archive")},
         [](const Invocation& i) { return relayCommand(i.options, *i.archive); },
         QStringLiteral(R"roff(Create or change a register entry
.RB ( \-\-serial " and the relay options)."
Every change is a new version; a wrong field is refused by name and nothing is stored.
)roff")},
        {QStringLiteral("archive relays"),
         QString(),
         QStringLiteral("列出继电器台账，含上次校验、上次结论和下次到期日"),
         ArchiveUse::Opened, Writes::No, nullptr,
         {QStringLiteral("tsv"), QStringLiteral("json"), QStringLiteral("archive")},
         [](const Invocation& i) { return relaysCommand(i.options, *i.archive); },
         QStringLiteral(R"roff(The register with each relay's last test, last verdict and next due date.
)roff")},
        {QStringLiteral("archive link"),
         QString(),
         QStringLiteral("把记录关联到台账中的一只继电器"),
         ArchiveUse::Opened, Writes::Yes, nullptr,
         {QStringLiteral("record"), QStringLiteral("records"), QStringLiteral("serial"), QStringLiteral("archive")},
         [](const Invocation& i) { return linkCommand(i.options, *i.archive, false); },
         QStringLiteral(R"roff(Link records
.RB ( \-\-record ", repeatable, or " "\-\-records 1,2,5\-9" )
to a relay
.RB ( \-\-serial ),
all in one transaction or none.
)roff")},
        {QStringLiteral("archive unlink"),
         QString(),
         QStringLiteral("取消记录的关联（台账的关联变更中留有记录）"),
         ArchiveUse::Opened, Writes::Yes, nullptr,
         {QStringLiteral("record"), QStringLiteral("records"), QStringLiteral("archive")},
         [](const Invocation& i) { return linkCommand(i.options, *i.archive, true); },
         QStringLiteral(R"roff(Undo the links of records
.RB ( \-\-record " or " \-\-records );
the register keeps the change.
)roff")},
        {QStringLiteral("archive judge"),
         QString(),
         QStringLiteral("按所关联继电器的台账判定一条记录，输出 JSON"),
         ArchiveUse::Opened, Writes::IfItCan, noStore,
         {QStringLiteral("record"), QStringLiteral("standard"), QStringLiteral("json"), QStringLiteral("no-store"), QStringLiteral("archive")},
         [](const Invocation& i) { return judgeCommand(i.options, *i.archive); },
         QStringLiteral(R"roff(Judge a record against its relay's entry; prints the judgement as JSON.
)roff")},
        {QStringLiteral("archive p20"),
         QString(),
         QStringLiteral("核查一条记录的P20换算是否符合SF6状态方程"),
         ArchiveUse::Opened, Writes::No, nullptr,
         {QStringLiteral("record"), QStringLiteral("tsv"), QStringLiteral("json"), QStringLiteral("archive")},
         [](const Invocation& i) { return archiveP20Command(i.options, *i.archive); },
         QStringLiteral(R"roff(.BI \-\-record " N"
checks the record's P20 against its Pt and temperature: one row per reading the test count makes meaningful
(项目, Pt, 温度, P20（仪器）, P20（换算）, 偏差, 核查). Within 0.002 MPa is 一致. Exits 0 when all agree,
9 when one disagrees, 10 when the record cannot be checked (a temperature outside the equation's range),
1 for no such record. A sync says once, on standard error, which records disagree; it keeps them all.
)roff")},
        {QStringLiteral("archive trend"),
         QString(),
         QStringLiteral("继电器的漂移趋势图（PNG 或 PDF）"),
         ArchiveUse::Opened, Writes::No, nullptr,
         {QStringLiteral("serial"), QStringLiteral("png"), QStringLiteral("pdf"), QStringLiteral("archive")},
         [](const Invocation& i) { return trendCommand(i.options, *i.archive); },
         QStringLiteral(R"roff(The drift chart of a relay
.RB ( \-\-png ", " \-\-pdf ).
)roff")},
        {QStringLiteral("archive import"),
         QStringLiteral("FILE..."),
         QStringLiteral("把以前导出的工作簿（.xls、.xlsx）、TSV 和 JSON 文件导入存档"),
         ArchiveUse::Opened, Writes::Yes, nullptr,
         {QStringLiteral("archive")},
         [](const Invocation& i) { return importCommand(i.options, *i.archive, i.arguments); },
         QStringLiteral(R"roff(Earlier exports back into the archive: workbooks (.xls, .xlsx), TSV and JSON, told by their content.
The first row must hold the list's 53 captions (column A 组数 or 档案号); each row is rebuilt into its record
exactly and stored as a sync stores it, once. A row that gives no record is named on standard error
.RI ( FILE : ROW ": 列“温度”：“abc”不是温度)"
and the others are imported. Prints 导入N条新记录，M条已在存档中，K行无法导入.
)roff")},
        {QStringLiteral("archive lab"),
         QString(),
         QStringLiteral("显示实验室信息；给出选项时修改并保存为新版本"),
         ArchiveUse::Opened, Writes::Yes, noLabField,
         {QStringLiteral("name"), QStringLiteral("address"), QStringLiteral("phone"), QStringLiteral("accreditation"), QStringLiteral("prefix"), QStringLiteral("decision-rule"), QStringLiteral("verification-address"), QStringLiteral("json"), QStringLiteral("create-key"), QStringLiteral("import-key"), QStringLiteral("export-certificate"), QStringLiteral("passwords"), QStringLiteral("archive")},
         [](const Invocation& i) { return labCommand(i.options, *i.archive); },
         QStringLiteral(R"roff(The lab that issues certificates: 校验单位
.RB ( \-\-name ),
address, phone, accreditation number and the certificate-number prefix
.RB ( \-\-prefix ,
letters, digits and \-; default SF6) and the address where customers check a certificate
.RB ( \-\-verification\-address ,
printed in each certificate's QR code). Every change is a new version. Prints the current profile
.RB ( \-\-json " as JSON)."
.B \-\-create\-key
makes the lab's signing key (EC P\-256) and its self-signed certificate, the root of the people's;
.BI \-\-import\-key " FILE"
takes a .pfx/.p12 the lab has (its password is the line named as the file; older RC2 and 3DES exports are read
too); its certificate must be a CA allowed to sign certificates and valid today, or it is refused. Either way the key is kept only
encrypted under the lab's password (the line 实验室; at the terminal typed twice). A lab that has a key is refused.
.BI \-\-export\-certificate " FILE"
writes the lab's certificate for the quality manager to keep outside the archive
.RB ( "archive verify \-\-trust" ).
)roff")},
        {QStringLiteral("archive person"),
         QString(),
         QStringLiteral("添加或修改一名签名人员（角色、停用、换密钥、改密码），每次修改保存为新版本"),
         ArchiveUse::Opened, Writes::Yes, nullptr,
         {QStringLiteral("name"), QStringLiteral("roles"), QStringLiteral("retire"), QStringLiteral("new-password"), QStringLiteral("new-key"), QStringLiteral("passwords"), QStringLiteral("tsv"), QStringLiteral("json"), QStringLiteral("archive")},
         [](const Invocation& i) { return personCommand(i.options, *i.archive); },
         QStringLiteral(R"roff(A person who signs certificates
.RB ( \-\-name ;
.B \-\-roles
校验员,核验员,批准人). A new person gets a key pair, kept encrypted under their own password (their line in
.BR \-\-passwords ,
or typed twice), and a certificate from the lab's key naming them and their roles. Adding, changing roles
.RB ( \-\-roles ),
retiring
.RB ( \-\-retire )
and a new key after a forgotten password
.RB ( \-\-new\-key )
need the lab's password; old signatures stay valid under the old certificate. No one is ever deleted.
.B \-\-new\-password
changes one's own password: the first line with the name is the current password, the second the new one.
Without a change, prints the person.
)roff")},
        {QStringLiteral("archive people"),
         QString(),
         QStringLiteral("列出签名人员：姓名、角色、状态、版本、证书指纹"),
         ArchiveUse::Opened, Writes::No, nullptr,
         {QStringLiteral("tsv"), QStringLiteral("json"), QStringLiteral("archive")},
         [](const Invocation& i) { return peopleCommand(i.options, *i.archive); },
         QStringLiteral(R"roff(The people who sign, newest versions: name, roles, 在用 or 已停用, version, changed at, certificate fingerprint.
)roff")},
        {QStringLiteral("archive standard"),
         QString(),
         QStringLiteral("新建或修改一台标准器（每次修改保存为新版本）"),
         ArchiveUse::Opened, Writes::Yes, nullptr,
         {QStringLiteral("serial"), QStringLiteral("name"), QStringLiteral("model"), QStringLiteral("certificate"), QStringLiteral("issuer"), QStringLiteral("valid-until"), QStringLiteral("uncertainty"), QStringLiteral("expanded-uncertainty"), QStringLiteral("coverage-factor"), QStringLiteral("archive")},
         [](const Invocation& i) { return standardCommand(i.options, *i.archive); },
         QStringLiteral(R"roff(Create or change a reference standard
.RB ( \-\-serial ", " \-\-name ", " \-\-model ", " \-\-certificate ", " \-\-issuer ", " \-\-valid\-until ", " \-\-uncertainty );
every change is a new version.
)roff")},
        {QStringLiteral("archive standards"),
         QString(),
         QStringLiteral("列出标准器（当前版本）"),
         ArchiveUse::Opened, Writes::No, nullptr,
         {QStringLiteral("tsv"), QStringLiteral("json"), QStringLiteral("archive")},
         [](const Invocation& i) { return standardsCommand(i.options, *i.archive); },
         QStringLiteral(R"roff(The reference standards, current versions.
)roff")},
        {QStringLiteral("archive certify"),
         QString(),
         QStringLiteral("为已关联继电器的记录出具校准证书，输出证书编号"),
         ArchiveUse::Opened, Writes::Yes, nullptr,
         {QStringLiteral("record"), QStringLiteral("standard"), QStringLiteral("tester"), QStringLiteral("checker"), QStringLiteral("approver"), QStringLiteral("humidity"), QStringLiteral("as-found"), QStringLiteral("accept-p20"), QStringLiteral("accept-imported"), QStringLiteral("pdf"), QStringLiteral("passwords"), QStringLiteral("archive")},
         [](const Invocation& i) { return certifyCommand(i.options, *i.archive); },
         QStringLiteral(R"roff(Issue a certificate for a record linked to a relay
.RB ( \-\-record ", " \-\-standard ", " \-\-tester ", " \-\-checker ;
optional
.BR \-\-approver ", " \-\-humidity ", " \-\-as\-found " M, " \-\-accept\-p20 ", " \-\-accept\-imported ", " \-\-pdf ).
The record is judged with the relay's current entry; with \-\-as\-found, the older record M of the same relay
is judged too and the verdict is the as-left one's. Prints the number
.IR PREFIX \- YYYY \- NNNN ,
the next of the year of issue. Refused, with the reason and no number spent: no lab name, a record not linked,
a test dated after today, a standard unknown, without a validity or expired at the test date
(标准器 S 的证书（有效期至 yyyy\-mm\-dd）在测试日期 yyyy\-mm\-dd 之前已过期，不能出具证书),
a checker or approver who is another signer however the name is typed, an invisible character in a name,
a humidity that is not a number from 0 to 100, a wrong as-found record, a record whose P20 disagrees with the
SF6 equation (unless \-\-accept\-p20), a record whose data came from an
imported file (unless \-\-accept\-imported; the certificate then says 数据来源：导入 FILE), a time before
the newest issue or approval in the archive (the PC's clock looks wrong; on PostgreSQL the server's clock is used).
A PDF that cannot be written leaves the certificate issued; it can be printed again.
Once the lab has a signing key the tester and the checker sign it with their own keys: their passwords come from
.B \-\-passwords
or the terminal. A wrong password, a person without the role, a retired person or the same person twice is
refused with nothing written and no number spent.
)roff")},
        {QStringLiteral("archive approve"),
         QString(),
         QStringLiteral("批准一份证书"),
         ArchiveUse::Opened, Writes::Yes, nullptr,
         {QStringLiteral("certificate"), QStringLiteral("approver"), QStringLiteral("passwords"), QStringLiteral("pdf"), QStringLiteral("archive")},
         [](const Invocation& i) { return approveCommand(i.options, *i.archive); },
         QStringLiteral(R"roff(Approve a certificate
.RB ( \-\-certificate " NO, " \-\-approver );
a second approval, or one of a superseded certificate, is refused. Once the lab has a signing key the approver,
a third person with the role 批准人, signs with their own key (password from
.B \-\-passwords
or the terminal);
.B \-\-pdf
FILE then writes the approved certificate's PDF, signed by the approver.
)roff")},
        {QStringLiteral("archive amend"),
         QString(),
         QStringLiteral("出具替代证书（新编号），原证书标为“已替代”"),
         ArchiveUse::Opened, Writes::Yes, nullptr,
         {QStringLiteral("certificate"), QStringLiteral("reason"), QStringLiteral("record"), QStringLiteral("standard"), QStringLiteral("tester"), QStringLiteral("checker"), QStringLiteral("approver"), QStringLiteral("humidity"), QStringLiteral("as-found"), QStringLiteral("accept-p20"), QStringLiteral("accept-imported"), QStringLiteral("pdf"), QStringLiteral("passwords"), QStringLiteral("archive")},
         [](const Invocation& i) { return amendCommand(i.options, *i.archive); },
         QStringLiteral(R"roff(Replace a certificate
.RB ( \-\-certificate " NO, " \-\-reason ", any certify option)"
with a new one under a new number; what is not given is the old one's. The old one becomes 已替代.
)roff")},
        {QStringLiteral("archive certificate"),
         QString(),
         QStringLiteral("按出具时的原样重新打印一份证书"),
         ArchiveUse::Opened, Writes::No, nullptr,
         {QStringLiteral("number"), QStringLiteral("pdf"), QStringLiteral("passwords"), QStringLiteral("archive")},
         [](const Invocation& i) { return reprintCommand(i.options, *i.archive); },
         QStringLiteral(R"roff(Print a certificate again exactly as issued
.RB ( \-\-number " NO, " \-\-pdf ),
with a QR code on each page and the signatures listed. Once the lab has a signing key, an approved
certificate's PDF is signed by its approver, whose password comes from
.B \-\-passwords
or the terminal.
)roff")},
        {QStringLiteral("archive certificates"),
         QString(),
         QStringLiteral("列出全部证书及其状态（未批准、已批准、已替代）"),
         ArchiveUse::Opened, Writes::No, nullptr,
         {QStringLiteral("tsv"), QStringLiteral("json"), QStringLiteral("archive")},
         [](const Invocation& i) { return certificatesCommand(i.options, *i.archive); },
         QStringLiteral(R"roff(Every certificate: number, records, relay, verdict, issued at, tester, checker, approver, approved at, state
(未批准, 已批准, 已替代).
)roff")},
        {QStringLiteral("archive verify"),
         QString(),
         QStringLiteral("核对审计记录的链、每份证书的校验值和签名"),
         ArchiveUse::Opened, Writes::No, nullptr,
         {QStringLiteral("certificate"), QStringLiteral("trust"), QStringLiteral("archive")},
         [](const Invocation& i) { return verifyCommand(i.options, *i.archive); },
         QStringLiteral(R"roff(Check the audit trail's chain and every certificate's hash against its records as they are now:
prints 存档完整：N条审计记录，M份证书, or names the first altered audit row or certificate and exits 7.
With
.BI \-\-certificate " NO"
prints that certificate's verification code 校验码：XXXX\-XXXX\-XXXX\-XXXX and checks that certificate
alone: its hash, its records and its signatures (with the lab's and the people's certificates they rest on).
Once the lab has a signing key, also each signature against its person's certificate, each person's certificate
against the lab's, each signature's audit row against the chain and each certificate's hash against its
signatures; every finding is named, a line each, and exits 7.
.BI \-\-trust " FILE"
checks the lab's certificate in the archive against the copy kept outside it
.RB ( "archive lab \-\-export\-certificate" ),
so that keys replaced inside the archive are found too; without it a line says the lab's certificate was not
checked against an outside copy.
)roff")},
        {QStringLiteral("archive audit"),
         QString(),
         QStringLiteral("按先后列出审计记录"),
         ArchiveUse::Opened, Writes::No, nullptr,
         {QStringLiteral("tsv"), QStringLiteral("json"), QStringLiteral("archive")},
         [](const Invocation& i) { return auditCommand(i.options, *i.archive); },
         QStringLiteral(R"roff(The audit trail, oldest first: number, time, OS user, host, program, action, object, the values before
and after (JSON) and the reason of every change to the archive (relay entries, links, unlinks, reports,
imports). TSV by default, or
.BR "\-\-json \-" ;
JSON gives the stored action names and the values as JSON.
)roff")},
        {QStringLiteral("archive copy"),
         QString(),
         QStringLiteral("把整个存档复制到 --to 指定的空存档（SQLite 文件或 PostgreSQL 数据库）"),
         ArchiveUse::Opened, Writes::No, nullptr,
         {QStringLiteral("to"), QStringLiteral("archive")},
         [](const Invocation& i) { return copyCommand(i.options, *i.archive); },
         QStringLiteral(R"roff(Copy the whole archive
.RB ( \-\-archive )
into an empty one
.RB ( \-\-to " LOCATION, a file or postgresql://...),"
every table with its ids, texts, bytes and hashes as they are, in one transaction; the source is read as of one
moment while others write. A target that holds anything, the source itself, or a newer program's archive is
refused (exit 6). Broken off, it leaves no archive: a file is written beside the target and renamed at the end.
Progress, table and rows, on standard error.
)roff")},
        {QStringLiteral("archive backup"),
         QString(),
         QStringLiteral("把存档备份为一个新的 SQLite 文件并核对它"),
         ArchiveUse::Opened, Writes::No, nullptr,
         {QStringLiteral("to"), QStringLiteral("auto"), QStringLiteral("archive")},
         [](const Invocation& i) { return backupCommand(i.options, *i.archive); },
         QStringLiteral(R"roff(A consistent SQLite copy of the archive, made read-only, then opened read-only and verified as
.B archive verify
does. The file is
.B \-\-to
FILE, or backups/sf6archive\-YYYYMMDD\-HHMMSS.sqlite beside the SQLite archive (for a PostgreSQL archive, beside
the user's own archive file). An existing file is never replaced (exit 6); a backup that fails verify exits 7.
With
.BR \-\-auto ,
what the window does at its start: a backup into the backup folder
.RB ( "archive backup\-settings" )
only when the newest there is older than the interval, then the oldest of the program's own backups beyond the
number kept are removed (a file counts as one by its name and by the archive inside it; nothing else is touched).
)roff")},
        {QStringLiteral("archive backups"),
         QString(),
         QStringLiteral("列出备份文件夹中的备份：时间、大小、记录数"),
         ArchiveUse::None, Writes::No, nullptr,
         {QStringLiteral("archive")},
         [](const Invocation& i) { return backupsCommand(i.options); },
         QStringLiteral(R"roff(The backups in the backup folder, newest first: time, size in bytes, records, file. A file named like a
backup that holds no archive of this program says so instead of a count. The folder is named on standard error.
)roff")},
        {QStringLiteral("archive backup-settings"),
         QString(),
         QStringLiteral("显示或修改自动备份的设置：文件夹、间隔、保留份数"),
         ArchiveUse::None, Writes::No, nullptr,
         {QStringLiteral("folder"), QStringLiteral("interval-days"), QStringLiteral("keep"), QStringLiteral("archive")},
         [](const Invocation& i) { return backupSettingsCommand(i.options); },
         QStringLiteral(R"roff(Show the automatic backups' settings, or change those given:
.B \-\-folder
DIR (an empty text: backups beside the archive),
.B \-\-interval\-days
N (1 to 365),
.B \-\-keep
N (1 to 1000). They are this PC's, in backup.ini in the program's data folder, the window's too.
)roff")},
        {QStringLiteral("archive merge"),
         QStringLiteral("[...]"),
         QStringLiteral("把其他存档（如各台电脑的 SQLite 存档）合并到本存档"),
         ArchiveUse::Opened, Writes::Yes, nullptr,
         {QStringLiteral("from"), QStringLiteral("archive")},
         [](const Invocation& i) { return mergeCommand(i.options, i.arguments, *i.archive); },
         QStringLiteral(R"roff(Bring other archives
.RB ( \-\-from " FILE..., SQLite files of this program's schema)"
into the archive, all files in one transaction: any failure leaves it as it was. A record already there (the
same bytes) is skipped; a relay or standard of the same serial number with the same values is the same one, a
differing entry becomes a new version with source
.BR "合并：FILE" ;
the lab's versions are added and its own profile stays current. Judgements, reports and links come with their
records. Certificates keep their numbers; a number another certificate has refuses the whole merge and lists
every clash (exit 6): give each PC its own prefix. Each source's audit rows are carried into the trail as
new rows keeping their own fields and hashes, followed by one row naming the file, its trail's last hash and the
counts, so that
.B archive verify
checks them. A missing or foreign file, an older or newer program's archive, the archive itself, or a file
failing verify is refused (exit 6, 7 for a failed verify). Prints
.BR "合并N条新记录，M条已在存档中；继电器X只（新版本Y个）；证书Z份" :
X counts relays new to the archive, Y new versions of relays it had, Z certificates new to it. People and
signatures come along; a source whose lab key differs from the archive's is refused (import the same key on
every PC with
.BR "archive lab \-\-import\-key" ).
)roff")},
        {QStringLiteral("archive restore"),
         QString(),
         QStringLiteral("用备份文件恢复存档（已有的 SQLite 存档先改名移开，不删除）"),
         ArchiveUse::None, Writes::Yes, nullptr,
         {QStringLiteral("from"), QStringLiteral("archive")},
         [](const Invocation& i) { return restoreCommand(i.options); },
         QStringLiteral(R"roff(Copy a backup
.RB ( \-\-from " FILE)"
into the archive's place
.RB ( \-\-archive ,
else as for every command) after verifying it; a backup that fails verify is refused (exit 7). An SQLite archive
already there is first renamed to FILE.before\-restore\-YYYYMMDD\-HHMMSS (never deleted, put back if the copy fails)
and the new place is said; any other target must be empty.
)roff")},
    };
    return kCommands;
}

qsizetype nameWords(const Command& c) { return c.name.count(u' ') + 1; }

const Command* findCommand(const QStringList& words)
{
    for (const Command& c : commands())
        if (words.mid(0, nameWords(c)).join(u' ') == c.name)
            return &c;
    return nullptr;
}

bool writes(const Command& c, const QCommandLineParser& p)
{
    return c.writes != Writes::No && !(c.readsOnly && c.readsOnly(p));
}

bool argumentsFit(const Command& c, const QStringList& arguments)
{
    if (c.arguments.startsWith(u'['))
        return true;
    if (c.arguments.endsWith(QLatin1String("...")))
        return !arguments.isEmpty();
    return arguments.isEmpty();
}

} // namespace cli

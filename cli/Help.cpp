#include "cli/Help.h"

#include "cli/Options.h"
#include "cli/Output.h"

namespace cli {

namespace {

constexpr qsizetype kNameColumn = 24;   // where the summaries start

struct ExitText {
    Exit exit;
    QString text;
};

const ExitText kExitTexts[] = {
    {kOk, QStringLiteral("完成")},
    {kNoAnswer, QStringLiteral("无应答或没有记录；要找的记录、继电器或证书不存在，或被规则拒绝")},
    {kUsage, QStringLiteral("用法错误；archive import：文件不是本程序导出的文件")},
    {kNoPorts, QStringLiteral("没有串口")},
    {kBrokenOff, QStringLiteral("同步中断（已收到的记录照常输出）")},
    {kWriteFailed, QStringLiteral("输出文件写入失败")},
    {kArchiveFailed, QStringLiteral("存档无法打开或写入（输出文件已写好）")},
    {kAltered, QStringLiteral("archive verify：审计记录、证书或签名已被改动；verify-pdf：PDF已被改动、没有签名、签名人不明或证书已被替代")},
    {kRowsRefused, QStringLiteral("archive import：有的行无法导入，其余的已导入")},
};

QString usageLine(const Command& c)
{
    QString line = QStringLiteral("sf6cli ") + c.name;
    if (!c.options.isEmpty())
        line += QStringLiteral(" [选项]");
    if (!c.arguments.isEmpty())
        line += u' ' + c.arguments;
    return line;
}

QString padded(const QString& s, qsizetype width)
{
    return s.size() < width ? s + QString(width - s.size(), u' ') : s + u' ';
}

QString optionLine(const OptionSpec& o)
{
    QString left = QStringLiteral("  --") + QLatin1String(o.name);
    if (o.valueName)
        left += u' ' + QLatin1String(o.valueName);
    return padded(left, kNameColumn) + o.help + u'\n';
}

QString writesNote(const Command& c) { return c.writes == Writes::No ? QString() : QStringLiteral("（写入存档）"); }

// A name as roff shows it: every "-" a minus, so it can be searched and copied.
QString roff(QString s) { return s.replace(u'-', QStringLiteral("\\-")); }

} // namespace

QString generalHelp()
{
    QString s = QStringLiteral("用法：sf6cli 命令 [选项]\n"
                               "SF6 密度继电器校验仪：查找校验仪，下载测试记录，存档、判定、出具证书，不用窗口。\n"
                               "消息写到标准错误；列表和结果写到指定的文件，或用 - 写到标准输出（UTF-8）。\n\n"
                               "命令：\n");
    for (const Command& c : commands())
        s += padded(QStringLiteral("  ") + c.name + (c.arguments.isEmpty() ? QString() : u' ' + c.arguments),
                    kNameColumn)
            + c.summary + writesNote(c) + u'\n';
    s += QStringLiteral("\n每个命令的选项：sf6cli help 命令（例如 sf6cli help archive link）\n"
                        "  -h, --help              显示帮助\n"
                        "  -v, --version           显示版本\n\n"
                        "退出码：\n");
    for (const ExitText& e : kExitTexts)
        s += QStringLiteral("  %1  %2\n").arg(e.exit).arg(e.text);
    return s;
}

QString commandHelp(const Command& c)
{
    QString s = QStringLiteral("用法：") + usageLine(c) + u'\n' + c.summary + writesNote(c) + u'\n';
    if (!c.options.isEmpty()) {
        s += QStringLiteral("\n选项：\n");
        for (const QString& name : c.options)
            if (const OptionSpec* o = findOption(name))
                s += optionLine(*o);
    }
    return s;
}

QString manCommands()
{
    QString s;
    for (const Command& c : commands()) {
        s += QStringLiteral(".TP\n");
        if (c.arguments.isEmpty())
            s += QStringLiteral(".B ") + c.name + u'\n';
        else
            s += QStringLiteral(".BI \"%1 \" %2\n").arg(c.name, roff(c.arguments));
        s += c.manual;
        if (!c.options.isEmpty()) {
            QStringList names;
            for (const QString& o : c.options)
                names << QStringLiteral("\\fB\\-\\-%1\\fR").arg(roff(o));
            s += QStringLiteral(".br\nOptions: ") + names.join(QStringLiteral(", ")) + QStringLiteral(".\n");
        }
    }
    return s;
}

int helpCommand(const Invocation& i)
{
    QString text;
    if (i.arguments.isEmpty()) {
        text = generalHelp();
    } else if (const Command* c = findCommand(i.arguments); c && nameWords(*c) == i.arguments.size()) {
        text = commandHelp(*c);
    } else {
        err(QStringLiteral("没有这个命令：%1（sf6cli --help 列出全部命令）").arg(i.arguments.join(u' ')));
        return kUsage;
    }
    if (const sf6::Status s = writeOutput(kStdout, text.toUtf8()); !s)
        return fail(s);
    return kOk;
}

} // namespace cli

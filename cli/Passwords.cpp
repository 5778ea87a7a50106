#include "cli/Passwords.h"

#include "base/Console.h"
#include "base/Platform.h"

#include <QFile>

namespace cli {

namespace {

sf6::Status noTerminal(const QString& name)
{
    return sf6::Status::failure(sf6::ErrorCode::Usage,
                                QStringLiteral("需要 %1 的密码：在终端上输入，或用 --passwords 文件 给出（每行“姓名<TAB>密码”）")
                                    .arg(name));
}

} // namespace

sf6::Expected<Passwords> Passwords::from(const QCommandLineParser& p)
{
    Passwords out;
    if (!p.isSet(QStringLiteral("passwords")))
        return out;
    const QString path = p.value(QStringLiteral("passwords"));
    // Checked before reading: a file others could read has already told them.
    if (const QString problem = sf6::platform::privateFileProblem(path); !problem.isEmpty())
        return sf6::Status::failure(sf6::ErrorCode::PasswordFileUnsafe,
                                    QStringLiteral("密码文件 %1 不予使用：%2").arg(path, problem));
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return sf6::Status::failure(sf6::ErrorCode::PasswordFileUnsafe,
                                    QStringLiteral("无法读取密码文件 %1：%2").arg(path, file.errorString()));
    const QStringList lines = QString::fromUtf8(file.readAll()).split(u'\n');
    for (qsizetype i = 0; i < lines.size(); ++i) {
        QString line = lines[i];
        if (line.endsWith(u'\r'))
            line.chop(1);
        if (line.isEmpty())
            continue;
        const qsizetype tab = line.indexOf(u'\t');
        if (tab <= 0)
            return sf6::Status::failure(sf6::ErrorCode::Usage,
                                        QStringLiteral("密码文件 %1 第 %2 行不是“姓名<TAB>密码”").arg(path).arg(i + 1));
        out.lines_[line.left(tab).trimmed()] << line.mid(tab + 1);
    }
    out.file_ = path;
    return out;
}

sf6::Expected<QString> Passwords::current(const QString& name) const
{
    if (file_) {
        const QStringList found = lines_.value(name.trimmed());
        if (found.isEmpty())
            return sf6::Status::failure(sf6::ErrorCode::Usage, QStringLiteral("密码文件 %1 中没有 %2 的密码").arg(*file_, name));
        return found.front();
    }
    const auto typed = sf6::readSecretLine(QStringLiteral("%1 的密码：").arg(name));
    if (!typed)
        return noTerminal(name);
    return *typed;
}

sf6::Expected<QString> Passwords::fresh(const QString& name, bool afterCurrent) const
{
    if (file_) {
        const QStringList found = lines_.value(name.trimmed());
        const qsizetype at = afterCurrent ? 1 : 0;
        if (found.size() <= at)
            return sf6::Status::failure(sf6::ErrorCode::Usage,
                                        afterCurrent ? QStringLiteral("密码文件 %1 中没有 %2 的新密码（同名的第二行）").arg(*file_, name)
                                                     : QStringLiteral("密码文件 %1 中没有 %2 的密码").arg(*file_, name));
        return found[at];
    }
    const auto first = sf6::readSecretLine(QStringLiteral("%1 的新密码：").arg(name));
    if (!first)
        return noTerminal(name);
    const auto again = sf6::readSecretLine(QStringLiteral("再输入一次 %1 的新密码：").arg(name));
    if (!again || *again != *first)
        return sf6::Status::failure(sf6::ErrorCode::WrongPassword, QStringLiteral("两次输入的 %1 的新密码不一样").arg(name));
    return *first;
}

} // namespace cli

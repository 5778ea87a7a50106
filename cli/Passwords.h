#pragma once
// Where sf6cli takes passwords from: a file given by --passwords (lines
// name<TAB>password, the lab's line named 实验室; refused unless only its
// owner can read it), else the terminal without echo. Never an option's value.

#include "base/Status.h"

#include <QCommandLineParser>
#include <QHash>
#include <QStringList>

#include <optional>

namespace cli {

class Passwords {
public:
    // The file is read and checked now; without --passwords the terminal is asked later.
    static sf6::Expected<Passwords> from(const QCommandLineParser& p);
    // The person's (or 实验室's) password as it is now: the file's first line for the name.
    sf6::Expected<QString> current(const QString& name) const;
    // A password being set: the file's line for the name (the second one
    // when the first is the current one); at the terminal typed twice.
    sf6::Expected<QString> fresh(const QString& name, bool afterCurrent) const;

private:
    std::optional<QString> file_;
    QHash<QString, QStringList> lines_;
};

} // namespace cli

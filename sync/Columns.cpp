#include "sync/Columns.h"

namespace sf6 {

const QStringList& columnCaptions()
{
    // Column 51 really ends in an ASCII double quote; files and reports rely on it.
    static const QStringList captions = {
        QStringLiteral("组数"),          QStringLiteral("时间"),          QStringLiteral("温度"),
        QStringLiteral("采集方式"),      QStringLiteral("测试次数"),      QStringLiteral("P20均报警值"),
        QStringLiteral("P20均闭锁值1"),  QStringLiteral("P20均闭锁值2"),  QStringLiteral("P20均报警值回"),
        QStringLiteral("P20均闭锁回1"),  QStringLiteral("P20均闭锁回2"),  QStringLiteral("P20报警值1"),
        QStringLiteral("P20报警值2"),    QStringLiteral("P20报警值3"),    QStringLiteral("P20报警回1"),
        QStringLiteral("P20报警回2"),    QStringLiteral("P20报警回3"),    QStringLiteral("P20闭锁值1-1"),
        QStringLiteral("P20闭锁值1-2"),  QStringLiteral("P20闭锁值1-3"),  QStringLiteral("P20闭锁回1-1"),
        QStringLiteral("P20闭锁回1-2"),  QStringLiteral("P20闭锁回1-3"),  QStringLiteral("P20闭锁值2-1"),
        QStringLiteral("P20闭锁值2-2"),  QStringLiteral("P20闭锁值2-3"),  QStringLiteral("P20闭锁回2-1"),
        QStringLiteral("P20闭锁回2-2"),  QStringLiteral("P20闭锁回2-3"),  QStringLiteral("Pt均报警值"),
        QStringLiteral("Pt均闭锁值1"),   QStringLiteral("Pt均闭锁值2"),   QStringLiteral("Pt均报警回"),
        QStringLiteral("Pt均闭锁回1"),   QStringLiteral("Pt均闭锁回2"),   QStringLiteral("Pt报警值1"),
        QStringLiteral("Pt报警值2"),     QStringLiteral("Pt报警值3"),     QStringLiteral("Pt报警回1"),
        QStringLiteral("Pt报警回2"),     QStringLiteral("Pt报警回3"),     QStringLiteral("Pt闭锁值1-1"),
        QStringLiteral("Pt闭锁值1-2"),   QStringLiteral("Pt闭锁值1-3"),   QStringLiteral("Pt闭锁回1-1"),
        QStringLiteral("Pt闭锁回1-2"),   QStringLiteral("Pt闭锁回1-3"),   QStringLiteral("Pt闭锁值2-1"),
        QStringLiteral("Pt闭锁值2-2"),   QStringLiteral("Pt闭锁值2-3"),   QStringLiteral("Pt闭锁回2-1"),
        QStringLiteral("Pt闭锁回2-2\""), QStringLiteral("Pt闭锁回2-3"),
    };
    Q_ASSERT(captions.size() == kColumnCount);
    return captions;
}

int defaultColumnWidth(int column)
{
    if (column == 0)
        return kColumn0Width;
    if (column == 1)
        return kColumn1Width;
    return kValueColumnWidth;
}

} // namespace sf6

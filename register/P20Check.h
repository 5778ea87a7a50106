#pragma once
// Whether the instrument's 20 °C values follow from what it measured: each
// reading's Pt at the record's temperature converted with the SF6 equation of
// state (register/Sf6Gas.h) and compared with the instrument's P20. The check
// only reads a row; it never changes, refuses or judges a record.

#include "register/Decimal.h"
#include "sync/Columns.h"

#include <QString>

#include <vector>

namespace sf6 {

// The three rounded inputs alone move the computed P20 by up to about 0.0013 MPa.
inline constexpr Decimal kP20Tolerance = Decimal::fromThousandths(2);
inline constexpr int kP20ComputedDecimals = 4;

inline const QString kP20Agrees = QStringLiteral("一致");
inline const QString kP20Disagrees = QStringLiteral("不一致");
inline const QString kP20Unchecked = QStringLiteral("无法核查");

enum class P20State { Agrees, Disagrees, Unchecked };

struct P20Item {
    int position = 0;       // 0..23 within a block of 24 (the record's order)
    QString caption;        // the list's P20 caption, "P20报警值2"
    QString ptText, p20Text;
    Decimal pt, p20;        // the instrument's readings
    Decimal computed;       // P20 from Pt, to kP20ComputedDecimals
    Decimal deviation;      // p20 - computed
    bool agrees() const { return deviation.abs() <= kP20Tolerance; }
};

struct P20Check {
    P20State state = P20State::Unchecked;
    QString temperatureText;   // as the list shows it
    std::vector<P20Item> items;   // the readings checked, in column order
    QString reason;            // why it could not be checked
    QString stateText() const;
    // The item furthest off (nullptr without items).
    const P20Item* largest() const;
    std::vector<P20Item> disagreeing() const;
};

// Readings of a trial the record did not run that read zero are not checked
// (a count of 0 ran none), as the side panel leaves them empty and the
// judgement passes them by; nor is a quantity whose Pt and P20 both read zero
// (a contact the relay does not have).
P20Check checkP20(const ListRow& row);

// "+0.005MPa": a deviation with its sign, three decimals or the four it has.
QString deviationText(Decimal d);
// "P20换算核查：24项一致，最大偏差0.001MPa"; "P20换算核查：2项不一致（P20报警值2偏差+0.005MPa，…）";
// "P20换算核查：无法核查（…）".
QString p20CheckLine(const P20Check& check);

// One record of a sync, numbered as the list numbers it.
struct SyncedCheck {
    int number = 0;
    P20Check check;
};
// The sync's one message about its records that disagree, empty when none does:
// "第3条记录的P20换算与SF6状态方程不符（P20报警值2偏差+0.005MPa），请检查校验仪的温度测量".
QString p20SyncMessage(const std::vector<SyncedCheck>& checks);
// The same for the rows of a sync, numbered by their column 0.
QString p20SyncMessage(const std::vector<ListRow>& rows);

} // namespace sf6

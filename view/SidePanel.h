#pragma once
// Panel1: the selected record in readable form beside the list.
// A pure view of one row's texts; nothing reads the labels back.

#include <QFrame>
#include <QGroupBox>
#include <QLabel>

#include <array>

#include "sync/Columns.h"

namespace sf6 {

class SidePanel : public QFrame {
    Q_OBJECT
public:
    static constexpr int kWidth = 525;
    static constexpr int kFontPixels = 15;
    static constexpr int kFixedValueWidth = 151;   // lbcscs, lbcjfs

    explicit SidePanel(QWidget* parent = nullptr);

    // ListView1Click: copy columns 1..52 of the row (if any), then blank zero readings
    // of the trials the test count excludes, on whatever the labels then hold.
    void fillFrom(const ListRow* selectedRowOrNull);
    // FormActivate: every value label empty, in column order.
    void clearValues();

    QLabel* valueLabel(int column) const;   // 1..52, else nullptr
    QString valueText(int column) const;

    QSize sizeHint() const override;

    // Header.
    QLabel *Label1, *Label2, *Label3, *Label4;
    QLabel *lbsj, *lbwd, *lbcscs, *lbcjfs;
    QGroupBox *GroupBox1, *GroupBox2, *GroupBox3, *GroupBox4, *GroupBox5, *GroupBox6, *GroupBox7;

    // GroupBox1, alarm return.
    QLabel *lbbjhfz1, *lbbjhfz2, *lbbjhfz3, *lbP20bjhfz1, *lbP20bjhfz2, *lbP20bjhfz3;
    // GroupBox2, alarm.
    QLabel *lbbjz1, *lbbjz2, *lbbjz3, *lbP20bjz1, *lbP20bjz2, *lbP20bjz3;
    // GroupBox3, lock-out return 1.
    QLabel *lbbshfz11, *lbbshfz12, *lbbshfz13, *lbbshfzP2011, *lbbshfzP2012, *lbbshfzP2013;
    // GroupBox4, lock-out 1.
    QLabel *lbbsz11, *lbbsz12, *lbbsz13, *lbbszP2011, *lbbszP2012, *lbP20bsz13;
    // GroupBox5, lock-out return 2.
    QLabel *lbbshfz21, *lbbshfz22, *lbbshfz23, *lbbshfzP2021, *lbbshfzP2022, *lbbshfzP2023;
    // GroupBox6, lock-out 2.
    QLabel *lbbsz21, *lbbsz22, *lbbsz23, *lbbszP2021, *lbbszP2022, *lbbszP2023;
    // GroupBox7, means.
    QLabel *lbbjh_j, *lbbjz_j, *lbbsh1_j, *lbbsz1_j, *lbbsh2_j, *lbbsz2_j;
    QLabel *lbbjhP20_j, *lbbjzP20_j, *lbbsh1P20_j, *lbbsz1P20_j, *lbbsh2P20_j, *lbbsz2P20_j;

private:
    void setValueText(int column, const QString& text);

    std::array<QLabel*, kColumnCount> m_values{};   // index = list column, 0 unused
};

} // namespace sf6

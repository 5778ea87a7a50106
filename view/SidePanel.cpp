#include "view/SidePanel.h"

#include "view/Blanking.h"

namespace sf6 {

namespace {

constexpr int kTrialBoxWidth = 240;
constexpr int kTrialBoxHeight = 100;
constexpr int kMeansBoxWidth = 492;
constexpr int kMeansBoxHeight = 117;
constexpr int kPanelHeightHint = 530;   // everything down to the means box

// Inside a trial box: trial 1..3 left edges, Pt and P20 row tops.
constexpr int kTrial1X = 44, kTrial2X = 100, kTrial3X = 156;
constexpr int kPtRowY = 27, kP20RowY = 67;
// Inside the means box.
constexpr int kMeanPtY = 43, kMeanP20Y = 83;

enum Box { Panel, Box1, Box2, Box3, Box4, Box5, Box6, Box7 };

struct ValueSlot {
    int column;
    QLabel* SidePanel::*member;
    const char* name;
    Box box;
    int x, y;
    int fixedWidth = 0;
};

#define VALUE_SLOT(col, field, box, x, y) ValueSlot{col, &SidePanel::field, #field, box, x, y}

const std::array<ValueSlot, kColumnCount - 1>& valueSlots()
{
    static const std::array<ValueSlot, kColumnCount - 1> table{{
        ValueSlot{1, &SidePanel::lbsj, "lbsj", Panel, 74, 13},
        ValueSlot{2, &SidePanel::lbwd, "lbwd", Panel, 74, 39},
        ValueSlot{3, &SidePanel::lbcjfs, "lbcjfs", Panel, 338, 39, SidePanel::kFixedValueWidth},
        ValueSlot{4, &SidePanel::lbcscs, "lbcscs", Panel, 338, 15, SidePanel::kFixedValueWidth},

        VALUE_SLOT(5, lbbjzP20_j, Box7, 116, kMeanP20Y),
        VALUE_SLOT(6, lbbsz1P20_j, Box7, 268, kMeanP20Y),
        VALUE_SLOT(7, lbbsz2P20_j, Box7, 420, kMeanP20Y),
        VALUE_SLOT(8, lbbjhP20_j, Box7, 44, kMeanP20Y),
        VALUE_SLOT(9, lbbsh1P20_j, Box7, 188, kMeanP20Y),
        VALUE_SLOT(10, lbbsh2P20_j, Box7, 348, kMeanP20Y),

        VALUE_SLOT(11, lbP20bjz1, Box2, kTrial1X, kP20RowY),
        VALUE_SLOT(12, lbP20bjz2, Box2, kTrial2X, kP20RowY),
        VALUE_SLOT(13, lbP20bjz3, Box2, kTrial3X, kP20RowY),
        VALUE_SLOT(14, lbP20bjhfz1, Box1, kTrial1X, kP20RowY),
        VALUE_SLOT(15, lbP20bjhfz2, Box1, kTrial2X, kP20RowY),
        VALUE_SLOT(16, lbP20bjhfz3, Box1, kTrial3X, kP20RowY),
        VALUE_SLOT(17, lbbszP2011, Box4, kTrial1X, kP20RowY),
        VALUE_SLOT(18, lbbszP2012, Box4, kTrial2X, kP20RowY),
        VALUE_SLOT(19, lbP20bsz13, Box4, kTrial3X, kP20RowY),
        VALUE_SLOT(20, lbbshfzP2011, Box3, kTrial1X, kP20RowY),
        VALUE_SLOT(21, lbbshfzP2012, Box3, kTrial2X, kP20RowY),
        VALUE_SLOT(22, lbbshfzP2013, Box3, kTrial3X, kP20RowY),
        VALUE_SLOT(23, lbbszP2021, Box6, kTrial1X, kP20RowY),
        VALUE_SLOT(24, lbbszP2022, Box6, kTrial2X, kP20RowY),
        VALUE_SLOT(25, lbbszP2023, Box6, kTrial3X, kP20RowY),
        VALUE_SLOT(26, lbbshfzP2021, Box5, kTrial1X, kP20RowY),
        VALUE_SLOT(27, lbbshfzP2022, Box5, kTrial2X, kP20RowY),
        VALUE_SLOT(28, lbbshfzP2023, Box5, kTrial3X, kP20RowY),

        VALUE_SLOT(29, lbbjz_j, Box7, 116, kMeanPtY),
        VALUE_SLOT(30, lbbsz1_j, Box7, 268, kMeanPtY),
        VALUE_SLOT(31, lbbsz2_j, Box7, 420, kMeanPtY),
        VALUE_SLOT(32, lbbjh_j, Box7, 44, kMeanPtY),
        VALUE_SLOT(33, lbbsh1_j, Box7, 188, kMeanPtY),
        VALUE_SLOT(34, lbbsh2_j, Box7, 348, kMeanPtY),

        VALUE_SLOT(35, lbbjz1, Box2, kTrial1X, kPtRowY),
        VALUE_SLOT(36, lbbjz2, Box2, kTrial2X, kPtRowY),
        VALUE_SLOT(37, lbbjz3, Box2, kTrial3X, kPtRowY),
        VALUE_SLOT(38, lbbjhfz1, Box1, kTrial1X, kPtRowY),
        VALUE_SLOT(39, lbbjhfz2, Box1, kTrial2X, kPtRowY),
        VALUE_SLOT(40, lbbjhfz3, Box1, kTrial3X, kPtRowY),
        VALUE_SLOT(41, lbbsz11, Box4, kTrial1X, kPtRowY),
        VALUE_SLOT(42, lbbsz12, Box4, kTrial2X, kPtRowY),
        VALUE_SLOT(43, lbbsz13, Box4, kTrial3X, kPtRowY),
        VALUE_SLOT(44, lbbshfz11, Box3, kTrial1X, kPtRowY),
        VALUE_SLOT(45, lbbshfz12, Box3, kTrial2X, kPtRowY),
        VALUE_SLOT(46, lbbshfz13, Box3, kTrial3X, kPtRowY),
        VALUE_SLOT(47, lbbsz21, Box6, kTrial1X, kPtRowY),
        VALUE_SLOT(48, lbbsz22, Box6, kTrial2X, kPtRowY),
        VALUE_SLOT(49, lbbsz23, Box6, kTrial3X, kPtRowY),
        VALUE_SLOT(50, lbbshfz21, Box5, kTrial1X, kPtRowY),
        VALUE_SLOT(51, lbbshfz22, Box5, kTrial2X, kPtRowY),
        VALUE_SLOT(52, lbbshfz23, Box5, kTrial3X, kPtRowY),
    }};
    return table;
}

#undef VALUE_SLOT

struct BoxLayout {
    QGroupBox* SidePanel::*member;
    const char* name;
    const char* caption;   // UTF-8
    int x, y, w, h;
};

const std::array<BoxLayout, 7> kBoxes{{
    {&SidePanel::GroupBox1, "GroupBox1", "报警回复值（MPa）", 15, 67, kTrialBoxWidth, kTrialBoxHeight},
    {&SidePanel::GroupBox2, "GroupBox2", "报警值（MPa）", 265, 67, kTrialBoxWidth, kTrialBoxHeight},
    {&SidePanel::GroupBox3, "GroupBox3", "闭锁回复值1（MPa）", 15, 175, kTrialBoxWidth, kTrialBoxHeight},
    {&SidePanel::GroupBox4, "GroupBox4", "闭锁值1（MPa）", 265, 175, kTrialBoxWidth, kTrialBoxHeight},
    {&SidePanel::GroupBox5, "GroupBox5", "闭锁回复值2（MPa）", 15, 287, kTrialBoxWidth, kTrialBoxHeight},
    {&SidePanel::GroupBox6, "GroupBox6", "闭锁值2（MPa）", 265, 287, kTrialBoxWidth, kTrialBoxHeight},
    {&SidePanel::GroupBox7, "GroupBox7", "", 15, 398, kMeansBoxWidth, kMeansBoxHeight},
}};

QFont songTi()
{
    // 宋体 on Windows; the CJK faces stand in for it elsewhere.
    QFont font;
    font.setFamilies({QStringLiteral("SimSun"), QStringLiteral("Noto Serif CJK SC"),
                      QStringLiteral("Noto Sans CJK SC")});
    font.setPixelSize(SidePanel::kFontPixels);
    return font;
}

QLabel* staticCaption(QWidget* parent, const QString& text, int x, int y, bool song)
{
    auto* label = new QLabel(text, parent);
    if (song)
        label->setFont(songTi());
    label->move(x, y);
    label->adjustSize();
    return label;
}

// A caption left of a value at valueX keeps a gap to it: its font is made
// smaller, a pixel at a time, where the face found is wider than the design's.
constexpr int kCaptionGap = 3;
constexpr int kSmallestCaptionPixels = 11;
void keepClearOf(QLabel* caption, int valueX)
{
    QFont f = caption->font();
    // Measured by its ink: the full-width colon's advance ends in blank space.
    const auto inkRight = [caption] { return caption->x() + caption->fontMetrics().boundingRect(caption->text()).right(); };
    while (inkRight() + kCaptionGap > valueX && f.pixelSize() > kSmallestCaptionPixels) {
        f.setPixelSize(f.pixelSize() - 1);
        caption->setFont(f);
    }
    caption->adjustSize();
}

} // namespace

SidePanel::SidePanel(QWidget* parent) : QFrame(parent)
{
    setObjectName(QStringLiteral("Panel1"));
    setFrameStyle(QFrame::Box | QFrame::Plain);
    setLineWidth(1);
    setFixedWidth(kWidth);
    QFont panelFont(QStringLiteral("Arial"));
    panelFont.setPixelSize(kFontPixels);
    setFont(panelFont);

    Label1 = staticCaption(this, QStringLiteral("时间："), 21, 13, true);
    Label2 = staticCaption(this, QStringLiteral("温度："), 21, 39, true);
    Label3 = staticCaption(this, QStringLiteral("测试次数："), 255, 13, false);
    Label4 = staticCaption(this, QStringLiteral("采集方式："), 255, 39, false);
    Label1->setObjectName(QStringLiteral("Label1"));
    Label2->setObjectName(QStringLiteral("Label2"));
    Label3->setObjectName(QStringLiteral("Label3"));
    Label4->setObjectName(QStringLiteral("Label4"));

    std::array<QWidget*, 8> parents{this};
    for (size_t i = 0; i < kBoxes.size(); ++i) {
        const BoxLayout& def = kBoxes[i];
        auto* box = new QGroupBox(QString::fromUtf8(def.caption), this);
        box->setObjectName(QLatin1String(def.name));
        box->setGeometry(def.x, def.y, def.w, def.h);
        this->*def.member = box;
        parents[i + 1] = box;
    }
    // Latin captions in the panel's own sans face: 宋体's Latin letters are serifed.
    for (int b = Box1; b <= Box6; ++b) {
        keepClearOf(staticCaption(parents[b], QStringLiteral("Pt："), 7, kPtRowY, false), kTrial1X);
        keepClearOf(staticCaption(parents[b], QStringLiteral("P20："), 7, kP20RowY, false), kTrial1X);
    }
    constexpr int kFirstMeanX = 44;
    keepClearOf(staticCaption(GroupBox7, QStringLiteral("Pt："), 7, 46, false), kFirstMeanX);
    keepClearOf(staticCaption(GroupBox7, QStringLiteral("P20："), 7, 84, false), kFirstMeanX);
    constexpr int kHeadingY = 17;
    staticCaption(GroupBox7, QStringLiteral("均报警回"), 37, kHeadingY, true);
    staticCaption(GroupBox7, QStringLiteral("均报警值"), 106, kHeadingY, true);
    staticCaption(GroupBox7, QStringLiteral("均闭锁回1"), 180, kHeadingY, true);
    staticCaption(GroupBox7, QStringLiteral("均闭锁值1"), 260, kHeadingY, true);
    staticCaption(GroupBox7, QStringLiteral("均闭锁回2"), 335, kHeadingY, true);
    staticCaption(GroupBox7, QStringLiteral("均闭锁值2"), 410, kHeadingY, true);

    for (const ValueSlot& slot : valueSlots()) {
        auto* label = new QLabel(parents[slot.box]);
        label->setObjectName(QLatin1String(slot.name));
        label->move(slot.x, slot.y);
        if (slot.fixedWidth > 0)
            label->setFixedWidth(slot.fixedWidth);
        label->adjustSize();
        this->*slot.member = label;
        m_values[size_t(slot.column)] = label;
    }
}

QSize SidePanel::sizeHint() const
{
    return {kWidth, kPanelHeightHint};
}

void SidePanel::setValueText(int column, const QString& text)
{
    QLabel* label = m_values[size_t(column)];
    if (label->text() == text)
        return;
    label->setText(text);
    label->adjustSize();   // not in a layout: grow or shrink with the text
}

void SidePanel::fillFrom(const ListRow* selectedRowOrNull)
{
    if (selectedRowOrNull) {
        const ListRow& row = *selectedRowOrNull;
        for (int column = 1; column < kColumnCount; ++column)
            setValueText(column, row.value(column));
    }
    PanelTexts texts;
    for (int column = 1; column < kColumnCount; ++column)
        texts[size_t(column)] = m_values[size_t(column)]->text();
    blankZeroReadings(texts);
    for (int column = 1; column < kColumnCount; ++column)
        setValueText(column, texts[size_t(column)]);
}

void SidePanel::clearValues()
{
    for (int column = 1; column < kColumnCount; ++column)
        setValueText(column, QString());
}

QLabel* SidePanel::valueLabel(int column) const
{
    if (column < 1 || column >= kColumnCount)
        return nullptr;
    return m_values[size_t(column)];
}

QString SidePanel::valueText(int column) const
{
    const QLabel* label = valueLabel(column);
    return label ? label->text() : QString();
}

} // namespace sf6

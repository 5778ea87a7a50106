#pragma once
// The calibration report of one record as a description of a single page:
// positioned labels and lines on one band, plus the printer settings the
// report carries with it. Widget-free, so the dialog, the print preview and a
// batch PDF export all print the very same page.

#include <QLine>
#include <QRect>
#include <QString>
#include <QStringList>
#include <vector>

#include "sync/Columns.h"

namespace sf6 {

// Page geometry, in pixels at 96 per inch from the band's top-left corner,
// which is the top-left corner of the printable area.
constexpr int kReportDpi = 96;
constexpr int kLabelHeight = 17;
constexpr int kTitleHeight = 25;
constexpr int kLineCount = 61;
constexpr double kPageMarginMm = 10.0;   // all four sides of the A4 portrait page
constexpr double kLabelFontPixels = 10.0 * kReportDpi / 72.0;   // Arial 10 pt
constexpr double kTitleFontPixels = 12.0 * kReportDpi / 72.0;   // Arial 12 pt bold
// The record's frame and the title above it; pages added to a report keep to them.
constexpr int kFrameLeft = 20;        // the left line sits one pixel left of the others' start
constexpr int kRuleLeft = 21;
constexpr int kFrameRight = 680;
constexpr int kFrameTop = 60;
constexpr QRect kTitleBox{272, 24, 184, kTitleHeight};

struct PageLabel {
    enum Font { Arial10, Arial12Bold };

    QString name;   // e.g. "QRLabel93"
    QRect box;      // fixed size: a text longer than the box wraps and is cut off
    Font font = Arial10;
    Qt::Alignment align = Qt::AlignHCenter | Qt::AlignTop;
    QString text;
};

struct PageLine {
    QLine line;   // drawn black, pen width 2
};

// A two-dimensional code (a certificate's QR code): square modules filling
// the box, row by row from its top-left corner; the box is left white around them.
struct PageCode {
    QString name;
    QRect box;
    int modules = 0;            // per side
    std::vector<bool> dark;     // modules * modules
};

struct ReportPage {
    std::vector<PageLabel> labels;
    std::vector<PageLine> lines;   // kLineCount on the record's page
    std::vector<PageCode> codes;
    int copies = 1;
    bool duplex = true;            // print both sides when the printer can
    QStringList notes;             // what the page had to assume about its input

    const PageLabel* label(const QString& name) const;
    PageLabel* label(const QString& name);
};

// What the user types into the report-details dialog.
struct ReportDetails {
    QString title, calibratingUnit, submittingUnit, testDate, printDate, relayName, model,
        serialNumber, productionDate, tester, reviewer, approver;
    bool operator==(const ReportDetails&) const = default;
};

// Name, model, serial number and production date joined for the header's
// relay row. Empty parts keep their separators.
QString relayInformationLine(const ReportDetails& d);

// The dialog's defaults; today is already in the user's short date format.
// The test date is left empty: it comes from the record (testDateOfRow).
ReportDetails defaultReportDetails(const QString& today);

// First 10 characters of the row's time column: the date part of "2012-05-18 09:07".
QString testDateOfRow(const ListRow& row);

// A file name for the report of one row, e.g. "2012-05-18_1.pdf"; characters
// that no file system accepts are replaced.
QString reportPdfFileName(const QString& testDate, const QString& rowNumber);

// The text as it may go on a page: unchanged but for the characters that
// cannot be printed honestly. Control characters go (a line break stays a line
// break), and so do the bidirectional overrides and isolates, with which a
// field could be made to read otherwise than it was typed.
QString printableText(const QString& text);

// A fresh page: every label at its design text, then filled from the details
// and the row. Columns missing from a short row read as empty texts.
ReportPage buildReportPage(const ReportDetails& details, const ListRow& row);

// A judgement as a report prints it: one line below the frame of the record's
// page, and a second page with the rule and the table of items.
struct ReportConclusion {
    QString line;                       // "结论：合格（依据DL/T 259-2012；…）"
    std::vector<std::pair<QString, QString>> rule;   // caption, value: class, range, limits
    std::vector<QStringList> items;     // contact, trial, nominal, action, error, allowed, differential, limit, verdict
};
inline const QString kConclusionLabel = QStringLiteral("QRConclusion");
constexpr QRect kConclusionBox{24, 998, 656, kLabelHeight};   // its first line; a long conclusion runs on below
// The height of a conclusion label: a line of kLabelHeight for each line the
// text can take, reckoned from its characters (a failing one names its items).
int conclusionHeight(const QString& line);
inline const QString kJudgementTitle = QStringLiteral("校验结果判定");
const QStringList& judgementTableCaptions();

// The record's page with the conclusion label below its frame; every other
// element stays where it was.
void addConclusion(ReportPage& page, const QString& line);
// Page 2: the title "校验结果判定", the relay and test date, the rule, the
// item table, the conclusion and the signatures.
ReportPage buildJudgementPage(const ReportDetails& details, const ReportConclusion& conclusion);

} // namespace sf6

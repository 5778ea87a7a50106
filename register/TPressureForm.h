#pragma once
// 工具 → SF6压力换算: the SF6 conversion both ways as one types, and the table
// of Pt from -20 to +50 °C for a relay's P20, printable. Needs no archive.

#include <QWidget>

class QLabel;
class QLineEdit;
class QPushButton;
class QTableWidget;
class THistoryForm;

class TPressureForm : public QWidget {
    Q_OBJECT
public:
    explicit TPressureForm(QWidget* parent = nullptr);

    // Pt at a temperature -> P20
    QLineEdit* edPt = nullptr;
    QLineEdit* edPtTemp = nullptr;
    QLabel* lbP20 = nullptr;
    // P20 -> Pt at a temperature
    QLineEdit* edP20 = nullptr;
    QLineEdit* edP20Temp = nullptr;
    QLabel* lbPt = nullptr;
    // The table for a P20
    QLineEdit* edTableP20 = nullptr;
    QTableWidget* TableGrid = nullptr;
    QPushButton* btnPrint = nullptr;

    // The history window's P20 column and its 核查 command.
    static void addP20CheckTo(THistoryForm* history);

public slots:
    void edPtChange();
    void edPtTempChange() { edPtChange(); }
    void edP20Change();
    void edP20TempChange() { edP20Change(); }
    void edTableP20Change();
    void btnPrintClick();
};

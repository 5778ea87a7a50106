#pragma once
// The trend window of one relay: the chart, and buttons to save it.

#include "register/RelayRegister.h"

#include <QWidget>

class QChartView;
class QPushButton;

class TTrendForm : public QWidget {
    Q_OBJECT
public:
    explicit TTrendForm(sf6::TrendData data, QWidget* parent = nullptr);
    // The trend of a relay of the archive, shown; nullptr (and a message) when there is none.
    static TTrendForm* open(const sf6::Archive& archive, const QString& serial, QWidget* messageParent);

    QChartView* Chart = nullptr;
    QPushButton* btnSavePng = nullptr;
    QPushButton* btnSavePdf = nullptr;
    const sf6::TrendData& data() const { return data_; }

public slots:
    void btnSavePngClick();
    void btnSavePdfClick();

private:
    sf6::TrendData data_;
};

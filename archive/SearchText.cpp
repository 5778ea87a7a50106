#include "archive/SearchText.h"

namespace sf6 {

QString foldedForSearch(const QString& text)
{
    return text.normalized(QString::NormalizationForm_KC).toCaseFolded();
}

namespace {
QString joined(std::initializer_list<QString> fields)
{
    QString out;
    for (const QString& f : fields) {
        if (!out.isEmpty())
            out += kSearchFieldSeparator;
        out += foldedForSearch(f);
    }
    return out;
}
} // namespace

QString reportSearchText(const ReportDetails& d)
{
    // The dialog's sample relay says nothing about the record: a relay field
    // left at its sample value is not searched (every record would match "ABB").
    static const ReportDetails kSample = defaultReportDetails(QString());
    const auto own = [](const QString& value, const QString& sample) {
        return value.trimmed() == sample ? QString() : value;
    };
    return joined({d.calibratingUnit, own(d.submittingUnit, kSample.submittingUnit), own(d.relayName, kSample.relayName),
                   own(d.model, kSample.model), own(d.serialNumber, kSample.serialNumber)});
}

QString relaySearchText(const QString& serial, const QString& name, const QString& model, const QString& client)
{
    return joined({serial, name, model, client});
}

} // namespace sf6

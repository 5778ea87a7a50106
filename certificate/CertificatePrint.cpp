#include "certificate/CertificatePrint.h"

#include "certificate/CertificatePages.h"
#include "report/ReportRenderer.h"
#include "report/TForm4.h"
#include "ui/FileDialogs.h"
#include "ui/MessageBox.h"

namespace sf6 {

QString certificatePdfName(const QString& number)
{
    static const QString kRefused = QStringLiteral("\\/:*?\"<>|");
    QString name = number.trimmed();
    for (QChar& c : name)
        if (kRefused.contains(c) || c.unicode() < 0x20)
            c = QLatin1Char('_');
    return name + QStringLiteral(".pdf");
}

bool saveCertificatePdf(const CertificateContent& content, const CertificateState& state, QWidget* parent)
{
    const QString file = ui::FileDialogs::saveFileName(
        ui::SaveRequest{QStringLiteral("保存证书"), certificatePdfName(content.number), kCertificatePdfFilter}, parent);
    if (file.isEmpty())
        return false;
    if (const Status written = writeReportPdf(certificatePages(content, state), file); !written) {
        ui::MessageBoxes::show(written.message(), parent);
        return false;
    }
    ui::SavedFiles::tell(file);
    return true;
}

TForm4* previewCertificate(const CertificateContent& content, const CertificateState& state)
{
    auto* page = new TForm4(certificatePages(content, state));
    page->preview();
    return page;
}

} // namespace sf6

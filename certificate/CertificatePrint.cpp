#include "certificate/CertificatePrint.h"

#include "certificate/CertificateActions.h"
#include "certificate/CertificatePages.h"
#include "certificate/People.h"
#include "report/ReportRenderer.h"
#include "report/TForm4.h"
#include "ui/FileDialogs.h"
#include "ui/MessageBox.h"
#include "ui/TextInputs.h"

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

bool saveCertificatePdf(const Archive& archive, const QString& number, QWidget* parent)
{
    const CertificateActions& actions = certificateActions();
    const auto signer = actions.pdfSigner(archive, number);
    if (!signer) {
        ui::MessageBoxes::show(signer.error(), parent);
        return false;
    }
    const QString file = ui::FileDialogs::saveFileName(
        ui::SaveRequest{QStringLiteral("保存证书"), certificatePdfName(number), kCertificatePdfFilter}, parent);
    if (file.isEmpty())
        return false;
    QString password;
    if (!signer->isEmpty()) {
        const auto typed = ui::TextInputs::ask(
            {QStringLiteral("保存PDF"), QStringLiteral("由批准人 %1 签名，%1 的密码：").arg(*signer), QString(), true}, parent);
        if (!typed)
            return false;
        password = *typed;
    }
    if (const auto written = actions.writePdf(archive, number, file, password); !written) {
        ui::MessageBoxes::show(written.error(), parent);
        return false;
    }
    ui::SavedFiles::tell(file);
    return true;
}

TForm4* previewCertificate(const Archive& archive, const StoredCertificate& certificate, QWidget* parent)
{
    const auto extras = certificatePrintExtras(archive, certificate.id);
    if (!extras) {
        ui::MessageBoxes::show(extras.error(), parent);
        return nullptr;
    }
    auto* page = new TForm4(certificatePages(certificate.content, certificate.state, *extras));
    page->preview();
    return page;
}

} // namespace sf6

// verify-pdf: a certificate's PDF checked as its customer would.
#include "cli/Commands.h"
#include "cli/Options.h"
#include "cli/Output.h"

#include "ops/PdfCheck.h"

namespace cli {

int verifyPdfCommand(const QCommandLineParser& p, const QStringList& files)
{
    if (files.size() != 1)
        return fail(sf6::Status::failure(sf6::ErrorCode::Usage, QStringLiteral("verify-pdf 一次核对一个PDF文件")));
    // The archive only when named: a customer checks a file without one.
    std::shared_ptr<sf6::Archive> archive;
    if (p.isSet(QStringLiteral("archive"))) {
        const auto location = archiveLocation(p);
        if (!location)
            return fail(location.status());
        auto opened = sf6::Archive::open(*location, sf6::Archive::Access::Read);
        if (!opened)
            return fail(opened.status());
        archive = std::move(*opened);
    }
    auto check = sf6::ops::checkCertificatePdf(files.front(), p.value(QStringLiteral("trust")), archive.get());
    if (!check)
        return fail(check.status());
    const QString report = sf6::ops::pdfCheckReport(*check);
    if (!check->genuine()) {
        err(report.trimmed());
        return kAltered;
    }
    if (const sf6::Status s = writeOutput(kStdout, report.toUtf8()); !s) {
        err(s.message());
        return kWriteFailed;
    }
    return kOk;
}

} // namespace cli

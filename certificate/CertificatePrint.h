#pragma once
// A certificate's pages as the windows hand them out: saved as a PDF under a
// name the user confirms (the number proposed), or in the print preview.

#include "archive/Archive.h"
#include "certificate/Certificate.h"

#include <QString>

class QWidget;
class TForm4;

namespace sf6 {

inline const QString kCertificatePdfFilter = QStringLiteral("PDF文件(*.pdf)");

// "SF6-2026-0001.pdf": the number, with the characters no file system takes replaced.
QString certificatePdfName(const QString& number);
// Asks where, writes every page as the archive holds the certificate now,
// with its signers; an approved one of a signed archive signed by its
// approver, whose password is asked. A failure is told. False when nothing was written.
bool saveCertificatePdf(const Archive& archive, const QString& number, QWidget* parent);
// Opens the print preview of every page as the PDF has them (signers, QR
// code with the lab's address); the page window deletes itself with it. No
// parent: the preview outlives the window that asked for it. A failure to
// read the archive is told over parent, and nothing opens.
TForm4* previewCertificate(const Archive& archive, const StoredCertificate& certificate, QWidget* parent);

} // namespace sf6

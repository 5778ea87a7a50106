#pragma once
// A QR code for a page (libqrencode): error correction level M so that a
// smudged or creased print still reads, or L where M would not fit the box.

#include "base/Status.h"
#include "report/ReportPage.h"

namespace sf6 {

// The smallest module that still prints and scans: 1.25 px at 96 dpi, 0.33 mm.
constexpr double kMinQrModulePixels = 1.25;

// The text as UTF-8 in byte mode, the modules filling the box's shorter side.
// A text that needs modules smaller than the least is refused (InvalidValue).
Expected<PageCode> qrCode(const QString& name, const QString& text, const QRect& box);

} // namespace sf6

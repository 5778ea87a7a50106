#include "certificate/QrCode.h"

#include <qrencode.h>

#include <memory>

namespace sf6 {

Expected<PageCode> qrCode(const QString& name, const QString& text, const QRect& box)
{
    const QByteArray utf8 = text.toUtf8();
    const int most = int(std::min(box.width(), box.height()) / kMinQrModulePixels);
    for (const QRecLevel level : {QR_ECLEVEL_M, QR_ECLEVEL_L}) {
        // Version 0: the smallest that holds the text.
        std::unique_ptr<QRcode, decltype(&QRcode_free)> code(
            QRcode_encodeData(int(utf8.size()), reinterpret_cast<const unsigned char*>(utf8.constData()), 0, level),
            &QRcode_free);
        if (!code || code->width > most)
            continue;
        PageCode page{name, box, code->width, {}};
        page.dark.resize(size_t(code->width) * size_t(code->width));
        for (size_t i = 0; i < page.dark.size(); ++i)
            page.dark[i] = (code->data[i] & 1) != 0;   // bit 0: dark; the others say what kind of module
        return page;
    }
    return Status::failure(ErrorCode::InvalidValue, QStringLiteral("二维码内容太长，无法印在页上"));
}

} // namespace sf6

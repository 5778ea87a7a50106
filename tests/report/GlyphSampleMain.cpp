// glyph_sample OUT.png [REFERENCE.png]: draws the chart's and the report's
// texts as the program does (same font engine choice, same faces) into
// OUT.png; with a reference (the other system's drawing), exits 1 unless the
// two agree. scripts/test-windows.sh holds the Windows drawing against the
// Linux one.
#include "tests/report/GlyphSample.h"

#include "base/Platform.h"
#include "report/ReportFaces.h"

#include <QGuiApplication>

#include <cstdio>

int main(int argc, char** argv)
{
    sf6::platform::drawTextFromOutlines();
    QGuiApplication app(argc, argv);
    if (argc < 2 || argc > 3) {
        std::fprintf(stderr, "usage: glyph_sample OUT.png [REFERENCE.png]\n");
        return 2;
    }
    const sf6::Status faces = sf6::ReportFaces::available();
    if (!faces.ok()) {
        std::fprintf(stderr, "%s\n", qPrintable(faces.message()));
        return 1;
    }
    const QImage drawn = sf6test::drawGlyphSample();
    if (!drawn.save(QString::fromLocal8Bit(argv[1]), "PNG")) {
        std::fprintf(stderr, "cannot write %s\n", argv[1]);
        return 1;
    }
    if (argc == 3) {
        const QImage reference(QString::fromLocal8Bit(argv[2]));
        const sf6test::GlyphAgreement a = sf6test::compareGlyphImages(drawn, reference);
        std::printf("%s: %d of %d ink pixels without ink within a pixel on the other side, worst cell %d%% (at most %d%% and %d%% may)\n",
                    qPrintable(QGuiApplication::platformName()), a.disagreeing, a.inkPixels, a.worstCellPercent,
                    sf6test::GlyphAgreement::kTolerancePercent, sf6test::GlyphAgreement::kCellTolerancePercent);
        if (!a.agrees()) {
            std::fprintf(stderr, "the text drawn here differs from %s\n", argv[2]);
            return 1;
        }
    }
    return 0;
}

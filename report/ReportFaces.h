#pragma once
// The faces the report's text is drawn in, chosen character by character so
// that a PDF gives back exactly the text that was drawn. Qt's PDF writer names
// each embedded glyph after the lowest code point of the Basic Multilingual
// Plane that the face maps to it; where a face shares one glyph between two
// characters (日 and the Kangxi radical ⽇ in most CJK faces, a space and a
// no-break space), the text read back from the PDF is the other character. So
// every character goes to the first face whose glyph for it is its own.

#include <QFont>
#include <QString>
#include <QStringList>
#include <QTextLayout>

#include <vector>

class QPaintDevice;

namespace sf6 {

class ReportFaces {
public:
    // Latin text in Arial (or Liberation Sans, its metric twin); Chinese in a
    // face without shared glyphs where one is installed.
    static const ReportFaces& normal();
    static const ReportFaces& bold();

    // The face for c: an index into families(). Faces are tried in order; a
    // character no face can name honestly goes to the first face that has it.
    int faceFor(char32_t c) const;
    // True when faceFor(c) draws c with a glyph that reads back as c.
    bool readsBack(char32_t c) const;

    const QStringList& families() const { return families_; }
    // Face i at the given size in 96-dpi pixels for a painter scaled to those
    // pixels on a device of the given resolution.
    QFont font(int face, qreal pixels, const QPaintDevice* device) const;

    // Format runs giving every stretch of text its face; the rest stays in face 0.
    QList<QTextLayout::FormatRange> runs(const QString& text, qreal pixels, const QPaintDevice* device) const;

private:
    explicit ReportFaces(bool bold);
    struct Face;
    bool bold_;
    QStringList families_;
    std::vector<Face*> faces_;   // never freed: the two sets of faces last as long as the process
};

} // namespace sf6

#pragma once
// The faces the report's text is drawn in, chosen character by character so
// that a PDF gives back exactly the text that was drawn. Qt's PDF writer names
// each embedded glyph after the lowest code point of the Basic Multilingual
// Plane that the face maps to it; where a face shares one glyph between two
// characters (日 and the Kangxi radical ⽇ in most CJK faces, a space and a
// no-break space), the text read back from the PDF is the other character. So
// every character goes to the first face whose glyph for it is its own.
//
// The faces come from named font files, never from what the system's font
// configuration prefers (which changes with the locale): Liberation Sans
// (Arial's metric twin) for Latin text and WenQuanYi Zen Hei, which maps no
// two code points to one glyph, for Chinese.

#include "base/Status.h"

#include <QFont>
#include <QString>
#include <QStringList>
#include <QTextLayout>

#include <vector>

class QPaintDevice;

namespace sf6 {

// The font files the report and the trend chart draw with.
inline const QString kLatinRegularFile = QStringLiteral("LiberationSans-Regular.ttf");
inline const QString kLatinBoldFile = QStringLiteral("LiberationSans-Bold.ttf");
inline const QString kChineseFile = QStringLiteral("wqy-zenhei.ttc");

// Where those files are looked for, in order: the fonts folder beside the
// program (the Windows zip and setup put them there), then Debian's folders.
QStringList reportFontFolders();
// The first folder's copy of fileName, or an empty text.
QString reportFontFile(const QString& fileName);

class ReportFaces {
public:
    // Loads the font files once. A failure names the files not found and where
    // they were looked for: the report is then not drawn in other faces.
    static Status available();
    // The family names the loaded files registered (empty when missing).
    static QString latinFamily();
    static QString chineseFamily();

    // Latin text in Liberation Sans; Chinese in WenQuanYi Zen Hei.
    static const ReportFaces& normal();
    static const ReportFaces& bold();

    // The face for c: an index into families(). Faces are tried in order; a
    // character no face can name honestly goes to the first face that has it.
    int faceFor(char32_t c) const;
    // True when faceFor(c) draws c with a glyph that reads back as c.
    bool readsBack(char32_t c) const;
    // True when some face has a glyph for c; the rest show the missing-glyph box.
    bool draws(char32_t c) const;

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

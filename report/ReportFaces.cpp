#include "report/ReportFaces.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QFontDatabase>
#include <QHash>
#include <QPaintDevice>
#include <QRawFont>
#include <QTextCharFormat>

#include <mutex>

namespace sf6 {

namespace {
constexpr qreal kPointsPerInch = 72.0;
constexpr int kReportDpi = 96;
constexpr char32_t kPlaneEnd = 0x10000;   // the PDF writer's reverse map stops here

const char* const kDebianFontFolders[] = {"/usr/share/fonts/truetype/liberation", "/usr/share/fonts/truetype/wqy"};

struct LoadedFiles {
    QString latin, chinese;   // registered family names
    Status status = Status::success();
};

// The family a file registers, loaded from the file itself.
QString addFontFile(const QString& fileName, QStringList& missing)
{
    const QString path = reportFontFile(fileName);
    const int id = path.isEmpty() ? -1 : QFontDatabase::addApplicationFont(path);
    const QString family = id < 0 ? QString() : QFontDatabase::applicationFontFamilies(id).value(0);
    if (family.isEmpty())
        missing << fileName;
    return family;
}

const LoadedFiles& loadedFiles()
{
    static const LoadedFiles files = [] {
        LoadedFiles f;
        QStringList missing;
        f.latin = addFontFile(kLatinRegularFile, missing);
        const QString bold = addFontFile(kLatinBoldFile, missing);
        if (!bold.isEmpty() && f.latin.isEmpty())
            f.latin = bold;
        f.chinese = addFontFile(kChineseFile, missing);
        if (!missing.isEmpty()) {
            QStringList folders;
            for (const QString& folder : reportFontFolders())
                folders << QDir::toNativeSeparators(folder);
            f.status = Status::failure(ErrorCode::OutputNotWritten, QStringLiteral("找不到报表字体文件 %1（已查找：%2），报表无法正确显示中文和数字")
                                           .arg(missing.join(QStringLiteral("、")), folders.join(QStringLiteral("；"))));
        }
        return f;
    }();
    return files;
}

QFont baseFont(const QString& family, bool bold)
{
    QFont f;
    f.setFamilies({family});
    f.setStyleHint(QFont::SansSerif);
    f.setHintingPreference(QFont::PreferNoHinting);
    // No ligatures: "fi" drawn as one glyph would read back as U+FB01. No
    // merging: a glyph borrowed from whatever the system offers could be one
    // that reads back as another character.
    f.setStyleStrategy(QFont::StyleStrategy(QFont::PreferNoShaping | QFont::NoFontMerging));
    f.setBold(bold);
    return f;
}
} // namespace

QStringList reportFontFolders()
{
    QStringList folders{QDir(QCoreApplication::applicationDirPath()).filePath(QStringLiteral("fonts"))};
    for (const char* folder : kDebianFontFolders)
        folders << QString::fromLatin1(folder);
    return folders;
}

QString reportFontFile(const QString& fileName)
{
    for (const QString& folder : reportFontFolders()) {
        const QFileInfo file(QDir(folder), fileName);
        if (file.isFile())
            return file.absoluteFilePath();
    }
    return QString();
}

Status ReportFaces::available() { return loadedFiles().status; }
QString ReportFaces::latinFamily() { return loadedFiles().latin; }
QString ReportFaces::chineseFamily() { return loadedFiles().chinese; }

struct ReportFaces::Face {
    QRawFont raw;
    QHash<quint32, char32_t> lowest;   // glyph -> lowest code point naming it

    explicit Face(const QFont& font) : raw(QRawFont::fromFont(font))
    {
        if (!raw.isValid())
            return;
        QString all;
        all.reserve(int(kPlaneEnd));
        for (char32_t c = 1; c < kPlaneEnd; ++c)
            all.append(QChar::isSurrogate(c) ? QChar(u' ') : QChar(char16_t(c)));
        QList<quint32> glyphs(all.size());
        int count = int(glyphs.size());
        if (!raw.glyphIndexesForChars(all.constData(), int(all.size()), glyphs.data(), &count))
            return;
        for (int i = 0; i < count; ++i) {
            const char32_t c = char32_t(i + 1);
            if (glyphs[i] != 0 && !QChar::isSurrogate(c) && !lowest.contains(glyphs[i]))
                lowest.insert(glyphs[i], c);
        }
    }

    quint32 glyph(char32_t c) const
    {
        if (!raw.isValid() || !raw.supportsCharacter(c))
            return 0;
        const QString s = QString::fromUcs4(&c, 1);
        quint32 g[2] = {0, 0};
        int n = 2;
        raw.glyphIndexesForChars(s.constData(), int(s.size()), g, &n);
        return n == 1 ? g[0] : 0;
    }
    bool has(char32_t c) const { return glyph(c) != 0; }
    bool honest(char32_t c) const
    {
        const quint32 g = glyph(c);
        return c < kPlaneEnd && g != 0 && lowest.value(g) == c;
    }
};

ReportFaces::ReportFaces(bool bold) : bold_(bold)
{
    // Face 0 is always there, so every index stays valid; without its file it
    // draws nothing honest, and available() says why.
    const LoadedFiles& files = loadedFiles();
    families_ << (files.latin.isEmpty() ? QStringLiteral("Liberation Sans") : files.latin);
    faces_.push_back(new Face(baseFont(families_.first(), bold)));
    if (!files.chinese.isEmpty()) {
        families_ << files.chinese;
        faces_.push_back(new Face(baseFont(files.chinese, bold)));
    }
}

// Made once and kept to the end: torn down after the application object,
// its raw fonts would outlive the font database they came from.
const ReportFaces& ReportFaces::normal()
{
    static const ReportFaces* faces = new ReportFaces(false);
    return *faces;
}

const ReportFaces& ReportFaces::bold()
{
    static const ReportFaces* faces = new ReportFaces(true);
    return *faces;
}

int ReportFaces::faceFor(char32_t c) const
{
    // Decided once per character; a page has few distinct ones.
    static std::mutex mutex;
    static QHash<quint64, int> memo;
    const quint64 key = (quint64(bold_) << 32) | c;
    {
        std::lock_guard lock(mutex);
        if (auto it = memo.constFind(key); it != memo.constEnd())
            return *it;
    }
    int chosen = -1;
    for (size_t i = 0; i < faces_.size() && chosen < 0; ++i)
        if (faces_[i]->honest(c))
            chosen = int(i);
    for (size_t i = 0; i < faces_.size() && chosen < 0; ++i)
        if (faces_[i]->has(c))
            chosen = int(i);
    if (chosen < 0)
        chosen = 0;   // no face has it: drawn as the missing-glyph box, never as a look-alike
    std::lock_guard lock(mutex);
    memo.insert(key, chosen);
    return chosen;
}

bool ReportFaces::readsBack(char32_t c) const { return faces_[size_t(faceFor(c))]->honest(c); }

bool ReportFaces::draws(char32_t c) const { return faces_[size_t(faceFor(c))]->has(c); }

QFont ReportFaces::font(int face, qreal pixels, const QPaintDevice* device) const
{
    // The painter is scaled to 96-dpi pixels, so the size must come out in those
    // pixels: a point size would be converted at the device's resolution and
    // then scaled once more.
    const int deviceDpi = device && device->logicalDpiY() > 0 ? device->logicalDpiY() : kReportDpi;
    QFont f = baseFont(families_.at(face), bold_);
    f.setPointSizeF(pixels * kPointsPerInch / deviceDpi);
    return f;
}

QList<QTextLayout::FormatRange> ReportFaces::runs(const QString& text, qreal pixels,
                                                  const QPaintDevice* device) const
{
    QList<QTextLayout::FormatRange> out;
    std::vector<QTextCharFormat> formats(faces_.size());
    for (size_t i = 1; i < faces_.size(); ++i)
        formats[i].setFont(font(int(i), pixels, device));
    for (qsizetype i = 0; i < text.size();) {
        char32_t c = text.at(i).unicode();
        int length = 1;
        if (QChar::isHighSurrogate(c) && i + 1 < text.size() && text.at(i + 1).isLowSurrogate()) {
            c = QChar::surrogateToUcs4(text.at(i), text.at(i + 1));
            length = 2;
        }
        const int face = c == QChar::LineSeparator ? 0 : faceFor(c);
        if (face != 0) {
            if (!out.isEmpty() && out.last().start + out.last().length == i
                && out.last().format.font().family() == families_.at(face))
                out.last().length += length;
            else
                out.append(QTextLayout::FormatRange{int(i), length, formats[size_t(face)]});
        }
        i += length;
    }
    return out;
}

} // namespace sf6

#include "certificate/PdfSignature.h"

#include <openssl/asn1.h>
#include <openssl/x509v3.h>

#include <QDateTime>
#include <QMap>
#include <QRegularExpression>

#include <algorithm>
#include <optional>

namespace sf6 {

using crypto::Deleter;

namespace {

// Room for the CMS: the signature, the signer's and the lab's certificates
// with a few more between them. Hex doubles it.
constexpr qsizetype kContentsBytes = 16384;
constexpr qsizetype kXrefEntrySize = 20;
constexpr qsizetype kTailSearch = 1024;   // startxref sits in the last bytes
constexpr int kByteRangeDigits = 10;
constexpr int kDeepestNesting = 32;
// /F 132: printed and locked, as signature widgets are; an empty rect: no appearance.
constexpr int kWidgetFlags = 132;
const QByteArray kFieldName = "Signature1";

Status notOurs(const QString& why)
{
    return Status::failure(ErrorCode::Refused, QStringLiteral("无法签署这个PDF：%1").arg(why));
}

bool isWhite(char c) { return c == ' ' || c == '\n' || c == '\r' || c == '\t' || c == '\f' || c == '\0'; }
bool isDelimiter(char c)
{
    return isWhite(c) || c == '/' || c == '<' || c == '>' || c == '[' || c == ']' || c == '(' || c == ')' ||
           c == '{' || c == '}' || c == '%';
}

qsizetype skipWhite(const QByteArray& s, qsizetype i)
{
    while (i < s.size()) {
        if (isWhite(s[i]))
            ++i;
        else if (s[i] == '%')   // a comment runs to the end of its line
            while (i < s.size() && s[i] != '\n' && s[i] != '\r')
                ++i;
        else
            break;
    }
    return i;
}

std::optional<qint64> readInt(const QByteArray& s, qsizetype& i)
{
    i = skipWhite(s, i);
    const qsizetype start = i;
    while (i < s.size() && s[i] >= '0' && s[i] <= '9' && i - start < 12)
        ++i;
    if (i == start || (i < s.size() && !isDelimiter(s[i])))
        return std::nullopt;
    return s.mid(start, i - start).toLongLong();
}

// The end (one past) of the value starting at i: a dictionary, array, string,
// hex string, name or a plain token. -1: not well formed.
qsizetype valueEnd(const QByteArray& s, qsizetype i, int depth = 0)
{
    // Deeper than any dictionary the program writes: a hostile file's way to exhaust the stack.
    if (i >= s.size() || depth > kDeepestNesting)
        return -1;
    if (s[i] == '(') {
        int depth = 0;
        for (; i < s.size(); ++i) {
            if (s[i] == '\\')
                ++i;
            else if (s[i] == '(')
                ++depth;
            else if (s[i] == ')' && --depth == 0)
                return i + 1;
        }
        return -1;
    }
    if (s.mid(i, 2) == "<<" || s[i] == '[') {
        const bool dict = s[i] == '<';
        i += dict ? 2 : 1;
        for (;;) {
            i = skipWhite(s, i);
            if (i >= s.size())
                return -1;
            if (dict && s.mid(i, 2) == ">>")
                return i + 2;
            if (!dict && s[i] == ']')
                return i + 1;
            i = valueEnd(s, i, depth + 1);
            if (i < 0)
                return -1;
        }
    }
    if (s[i] == '<') {
        const qsizetype end = s.indexOf('>', i);
        return end < 0 ? -1 : end + 1;
    }
    if (s[i] == '/')
        ++i;
    else if (isDelimiter(s[i]))
        return -1;
    while (i < s.size() && !isDelimiter(s[i]))
        ++i;
    return i;
}

// The top-level entries of a dictionary's text, key (without '/') to value
// text; an indirect reference "n g R" is one value.
std::optional<QMap<QByteArray, QByteArray>> entries(const QByteArray& dict)
{
    QMap<QByteArray, QByteArray> map;
    if (!dict.startsWith("<<") || !dict.endsWith(">>"))
        return std::nullopt;
    const QByteArray body = dict.mid(2, dict.size() - 4);
    qsizetype i = 0;
    for (;;) {
        i = skipWhite(body, i);
        if (i >= body.size())
            return map;
        if (body[i] != '/')
            return std::nullopt;
        const qsizetype keyEnd = valueEnd(body, i);
        if (keyEnd < 0)
            return std::nullopt;
        const QByteArray key = body.mid(i + 1, keyEnd - i - 1);
        i = skipWhite(body, keyEnd);
        qsizetype end = valueEnd(body, i);
        if (end < 0)
            return std::nullopt;
        // "n g R": two more tokens make one reference.
        static const QRegularExpression reference(QStringLiteral("^\\s+\\d+\\s+R(?=[\\s/<>\\[\\]()%]|$)"));
        if (const auto m = reference.match(QString::fromLatin1(body.mid(end, 32))); m.hasMatch())
            end += m.capturedLength();
        map.insert(key, body.mid(i, end - i));
        i = end;
    }
}

std::optional<int> referenceNumber(const QByteArray& value)
{
    static const QRegularExpression ref(QStringLiteral("^(\\d+)\\s+(\\d+)\\s+R$"));
    const auto m = ref.match(QString::fromLatin1(value));
    if (!m.hasMatch())
        return std::nullopt;
    return m.captured(1).toInt();
}

struct PdfObject {
    int number = 0, generation = 0;
    QByteArray dict;   // "<< … >>", or "[ … ]" for an array
};

// What the update needs of the file: its objects' places, the trailer and
// where the last xref table starts.
struct PdfLayout {
    QMap<int, std::pair<qint64, int>> offsets;   // object → offset, generation
    QMap<QByteArray, QByteArray> trailer;
    qint64 xrefOffset = 0;
    int size = 0;
};

Expected<PdfLayout> readLayout(const QByteArray& pdf)
{
    if (!pdf.startsWith("%PDF-"))
        return notOurs(QStringLiteral("不是PDF文件"));
    const qsizetype tailStart = std::max<qsizetype>(0, pdf.size() - kTailSearch);
    const qsizetype sx = pdf.lastIndexOf("startxref");
    if (sx < tailStart)
        return notOurs(QStringLiteral("文件末尾没有 startxref"));
    qsizetype i = sx + 9;
    const auto xref = readInt(pdf, i);
    if (!xref || *xref <= 0 || *xref >= sx)
        return notOurs(QStringLiteral("startxref 指向文件之外"));
    PdfLayout layout;
    layout.xrefOffset = *xref;
    i = qsizetype(*xref);
    if (pdf.mid(i, 4) != "xref")
        return notOurs(QStringLiteral("没有经典的 xref 表"));
    i += 4;
    for (;;) {
        i = skipWhite(pdf, i);
        if (pdf.mid(i, 7) == "trailer")
            break;
        const auto first = readInt(pdf, i);
        const auto count = readInt(pdf, i);
        if (!first || !count || *count < 0 || *first < 0)
            return notOurs(QStringLiteral("xref 表无法读取"));
        i = skipWhite(pdf, i);
        if (i + *count * kXrefEntrySize > sx)
            return notOurs(QStringLiteral("xref 表超出文件"));
        for (qint64 k = 0; k < *count; ++k, i += kXrefEntrySize) {
            const QByteArray entry = pdf.mid(i, kXrefEntrySize);
            bool okOffset = false, okGen = false;
            const qint64 offset = entry.left(10).toLongLong(&okOffset);
            const int gen = entry.mid(11, 5).toInt(&okGen);
            if (!okOffset || !okGen || entry[10] != ' ' || entry[16] != ' ')
                return notOurs(QStringLiteral("xref 表无法读取"));
            if (entry[17] == 'n')
                layout.offsets.insert(int(*first + k), {offset, gen});
            else if (entry[17] != 'f')
                return notOurs(QStringLiteral("xref 表无法读取"));
        }
    }
    i = skipWhite(pdf, i + 7);
    const qsizetype end = valueEnd(pdf, i);
    const auto trailer = end > 0 ? entries(pdf.mid(i, end - i)) : std::nullopt;
    if (!trailer)
        return notOurs(QStringLiteral("trailer 无法读取"));
    layout.trailer = *trailer;
    bool ok = false;
    layout.size = layout.trailer.value("Size").toInt(&ok);
    if (!ok || layout.size <= 0)
        return notOurs(QStringLiteral("trailer 没有 /Size"));
    // An updated file is not the program's own output.
    if (layout.trailer.contains("Prev") || layout.trailer.contains("Encrypt"))
        return notOurs(QStringLiteral("文件已被更新过或已加密"));
    return layout;
}

// A dictionary, or with arrayWanted an array.
Expected<PdfObject> readObject(const QByteArray& pdf, const PdfLayout& layout, int number, bool arrayWanted = false)
{
    const auto place = layout.offsets.value(number, {-1, 0});
    if (place.first <= 0 || place.first >= pdf.size())
        return notOurs(QStringLiteral("找不到对象 %1").arg(number));
    qsizetype i = qsizetype(place.first);
    const auto n = readInt(pdf, i);
    const auto g = readInt(pdf, i);
    i = skipWhite(pdf, i);
    if (n != number || !g || pdf.mid(i, 3) != "obj")
        return notOurs(QStringLiteral("对象 %1 不在 xref 所说的位置").arg(number));
    i = skipWhite(pdf, i + 3);
    const bool array = pdf.mid(i, 1) == "[";
    const qsizetype end = pdf.mid(i, 2) == "<<" || array ? valueEnd(pdf, i) : -1;
    if (end < 0 || array != arrayWanted)
        return notOurs(QStringLiteral("对象 %1 不是所需的类型").arg(number));
    return PdfObject{number, int(*g), pdf.mid(i, end - i)};
}

// A text as a PDF text string: UTF-16BE with its byte order mark, in hex.
QByteArray textString(const QString& text)
{
    QByteArray bytes("\xFE\xFF", 2);
    for (const QChar c : text) {
        bytes += char(c.unicode() >> 8);
        bytes += char(c.unicode() & 0xFF);
    }
    return '<' + bytes.toHex() + '>';
}

// A text string back: hex or literal, UTF-16BE with its mark or PDFDocEncoding read as Latin-1.
QString readTextString(const QByteArray& value)
{
    QByteArray bytes;
    if (value.startsWith('<') && value.endsWith('>'))
        bytes = QByteArray::fromHex(value.mid(1, value.size() - 2));
    else if (value.startsWith('(') && value.endsWith(')'))
        for (qsizetype i = 1; i + 1 < value.size(); ++i) {
            if (value[i] == '\\' && i + 2 < value.size())
                ++i;
            bytes += value[i];
        }
    else
        return {};
    if (!bytes.startsWith("\xFE\xFF"))
        return QString::fromLatin1(bytes);
    QString text;
    for (qsizetype i = 2; i + 1 < bytes.size(); i += 2)
        text += QChar(char16_t((uchar(bytes[i]) << 8) | uchar(bytes[i + 1])));
    return text;
}

QByteArray pdfDate(std::chrono::system_clock::time_point t)
{
    const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(t.time_since_epoch()).count();
    return "(D:" + QDateTime::fromSecsSinceEpoch(seconds, Qt::UTC).toString(QStringLiteral("yyyyMMddHHmmss")).toLatin1() +
           "Z)";
}

QByteArray withEntry(const QByteArray& dict, const QByteArray& entry)
{
    return dict.left(dict.size() - 2) + ' ' + entry + " >>";
}

// The page's annotations with the field added: a page without them gets a
// direct array; Qt's page keeps its own and its array object (written empty)
// is replaced by a new version. Returns the objects to write.
Expected<std::vector<PdfObject>> withAnnotation(const QByteArray& pdf, const PdfLayout& layout, const PdfObject& page,
                                                const QByteArray& fieldRef)
{
    const auto e = entries(page.dict);
    if (!e)
        return notOurs(QStringLiteral("第1页无法读取"));
    if (!e->contains("Annots"))
        return std::vector<PdfObject>{{page.number, page.generation, withEntry(page.dict, "/Annots [" + fieldRef + "]")}};
    const auto arrayNumber = referenceNumber(e->value("Annots"));
    if (!arrayNumber)
        return notOurs(QStringLiteral("第1页的批注不是单独的数组对象"));
    auto annots = readObject(pdf, layout, *arrayNumber, true);
    if (!annots)
        return annots.status();
    annots->dict.insert(1, ' ' + fieldRef + ' ');
    return std::vector<PdfObject>{*annots};
}

QByteArray hexOfOpenSsl(const unsigned char* data, unsigned length)
{
    return QByteArray(reinterpret_cast<const char*>(data), qsizetype(length)).toHex();
}

bool addSigningTime(CMS_SignerInfo* si, std::chrono::system_clock::time_point t)
{
    const time_t seconds = std::chrono::system_clock::to_time_t(t);
    std::unique_ptr<ASN1_TIME, Deleter<ASN1_TIME_free>> time(ASN1_TIME_set(nullptr, seconds));
    return time && CMS_signed_add1_attr_by_NID(si, NID_pkcs9_signingTime, time->type, time.get(), -1) == 1;
}

} // namespace

QString certificateFingerprint(X509* certificate)
{
    unsigned char md[EVP_MAX_MD_SIZE];
    unsigned length = 0;
    if (!certificate || X509_digest(certificate, EVP_sha256(), md, &length) != 1)
        return {};
    return QString::fromLatin1(hexOfOpenSsl(md, length));
}

Expected<QByteArray> signPdf(const QByteArray& pdf, EVP_PKEY* key, X509* certificate,
                             const std::vector<X509*>& chain, const PdfSignatureDetails& details)
{
    if (!key || !certificate || X509_check_private_key(certificate, key) != 1)
        return Status::failure(ErrorCode::Refused, QStringLiteral("签名的密钥与证书不相符"));
    auto layout = readLayout(pdf);
    if (!layout)
        return layout.status();
    const auto root = referenceNumber(layout->trailer.value("Root"));
    if (!root)
        return notOurs(QStringLiteral("trailer 没有 /Root"));
    auto catalog = readObject(pdf, *layout, *root);
    if (!catalog)
        return catalog.status();
    const auto catalogEntries = entries(catalog->dict);
    if (!catalogEntries || catalogEntries->value("Type") != "/Catalog")
        return notOurs(QStringLiteral("找不到文档目录"));
    if (catalogEntries->contains("AcroForm"))
        return notOurs(QStringLiteral("文件已有表单或签名"));
    const auto pagesNumber = referenceNumber(catalogEntries->value("Pages"));
    auto pages = pagesNumber ? readObject(pdf, *layout, *pagesNumber) : Expected<PdfObject>(notOurs(QStringLiteral("没有页")));
    if (!pages)
        return pages.status();
    const auto pagesEntries = entries(pages->dict);
    static const QRegularExpression firstKid(QStringLiteral("^\\[\\s*(\\d+)\\s+\\d+\\s+R"));
    const auto kid = pagesEntries ? firstKid.match(QString::fromLatin1(pagesEntries->value("Kids"))) : QRegularExpressionMatch();
    if (!kid.hasMatch())
        return notOurs(QStringLiteral("找不到第1页"));
    auto page = readObject(pdf, *layout, kid.captured(1).toInt());
    if (!page)
        return page.status();
    if (const auto e = entries(page->dict); !e || e->value("Type") != "/Page")
        return notOurs(QStringLiteral("第1页不是页对象"));

    const int field = layout->size, signature = layout->size + 1;
    const QByteArray fieldRef = QByteArray::number(field) + " 0 R";
    auto annotated = withAnnotation(pdf, *layout, *page, fieldRef);
    if (!annotated)
        return annotated.status();
    const QByteArray catalogDict =
        withEntry(catalog->dict, "/AcroForm << /Fields [" + fieldRef + "] /SigFlags 3 >>");

    QByteArray out = pdf;
    if (!out.endsWith('\n'))
        out += '\n';
    std::vector<std::pair<int, std::pair<qint64, int>>> written;
    auto object = [&](int number, int generation, const QByteArray& body) {
        written.push_back({number, {out.size(), generation}});
        out += QByteArray::number(number) + ' ' + QByteArray::number(generation) + " obj\n" + body + "\nendobj\n";
    };
    object(catalog->number, catalog->generation, catalogDict);
    for (const PdfObject& o : *annotated)
        object(o.number, o.generation, o.dict);
    object(field, 0,
           "<< /Type /Annot /Subtype /Widget /FT /Sig /F " + QByteArray::number(kWidgetFlags) +
               " /Rect [0 0 0 0] /T (" + kFieldName + ") /V " + QByteArray::number(signature) + " 0 R /P " +
               QByteArray::number(page->number) + ' ' + QByteArray::number(page->generation) + " R >>");

    // The byte range is written as spaces first and filled in once the
    // places are known; its width stays the same.
    const QByteArray rangePlaceholder(4 * (kByteRangeDigits + 1) + 1, ' ');
    written.push_back({signature, {out.size(), 0}});
    out += QByteArray::number(signature) + " 0 obj\n";
    QByteArray sig = "<< /Type /Sig /Filter /Adobe.PPKLite /SubFilter /ETSI.CAdES.detached /ByteRange ";
    const qsizetype rangeAt = out.size() + sig.size();
    sig += rangePlaceholder + " /Contents ";
    const qsizetype contentsAt = out.size() + sig.size();
    sig += '<' + QByteArray(2 * kContentsBytes, '0') + '>';
    const qsizetype contentsEnd = out.size() + sig.size();
    sig += " /M " + pdfDate(details.time) + " /Name " + textString(details.signerName);
    if (!details.reason.isEmpty())
        sig += " /Reason " + textString(details.reason);
    sig += " /CertificateNumber " + textString(details.certificateNumber) + " /ContentSha256 " +
           textString(details.contentSha256) + " >>\nendobj\n";
    out += sig;

    const qint64 xrefAt = out.size();
    std::sort(written.begin(), written.end());
    out += "xref\n";
    for (const auto& [number, place] : written) {
        out += QByteArray::number(number) + " 1\n";
        out += QByteArray::number(place.first).rightJustified(10, '0') + ' ' +
               QByteArray::number(place.second).rightJustified(5, '0') + " n \n";
    }
    out += "trailer\n<< /Size " + QByteArray::number(signature + 1) + " /Root " + layout->trailer.value("Root");
    for (const char* kept : {"Info", "ID"})
        if (layout->trailer.contains(kept))
            out += QByteArray(" /") + kept + ' ' + layout->trailer.value(kept);
    out += " /Prev " + QByteArray::number(layout->xrefOffset) + " >>\nstartxref\n" + QByteArray::number(xrefAt) +
           "\n%%EOF\n";

    const qsizetype tail = out.size() - contentsEnd;
    const QByteArray range = '[' + QByteArray::number(0) + ' ' + QByteArray::number(contentsAt) + ' ' +
                             QByteArray::number(contentsEnd) + ' ' + QByteArray::number(tail) + ']';
    if (range.size() > rangePlaceholder.size())
        return notOurs(QStringLiteral("文件太大"));
    out.replace(rangeAt, range.size(), range);

    // The CMS over both ranges, detached, with the ESS signing-certificate-v2 of CAdES.
    const QByteArray signedBytes = out.left(contentsAt) + out.mid(contentsEnd);
    crypto::Bio data = crypto::memoryReader(signedBytes);
    crypto::CertStack certs(sk_X509_new_null());
    for (X509* c : chain)
        if (!c || !X509_up_ref(c) || !sk_X509_push(certs.get(), c))
            return Status::failure(ErrorCode::Failed, QStringLiteral("签名失败：证书链无法使用"));
    constexpr unsigned kFlags = CMS_DETACHED | CMS_BINARY | CMS_PARTIAL | CMS_NOSMIMECAP;
    crypto::Cms cms(CMS_sign(nullptr, nullptr, certs.get(), nullptr, kFlags));
    CMS_SignerInfo* si = cms ? CMS_add1_signer(cms.get(), certificate, key, EVP_sha256(), kFlags | CMS_CADES) : nullptr;
    if (!si || !addSigningTime(si, details.time) || CMS_final(cms.get(), data.get(), nullptr, kFlags) != 1)
        return Status::failure(ErrorCode::Failed, QStringLiteral("签名失败：无法生成CMS签名"));
    crypto::Bio der(BIO_new(BIO_s_mem()));
    if (!der || i2d_CMS_bio(der.get(), cms.get()) != 1)
        return Status::failure(ErrorCode::Failed, QStringLiteral("签名失败：无法生成CMS签名"));
    const QByteArray hex = crypto::memoryContents(der.get()).toHex();
    if (hex.size() > 2 * kContentsBytes)
        return Status::failure(ErrorCode::Failed, QStringLiteral("签名失败：签名比预留的位置大"));
    out.replace(contentsAt + 1, hex.size(), hex);
    return out;
}

namespace {

// A stack whose certificates belong to someone else.
void freeBorrowedStack(STACK_OF(X509) * s) { sk_X509_free(s); }

PdfCheck finding(PdfCheck r, PdfFinding f, const QString& sentence)
{
    r.finding = f;
    r.sentence = sentence;
    return r;
}

// The hex of /Contents as the writer leaves it: digits of one case only, so
// that no letter's case can be flipped unseen (the DER would read the same).
bool canonicalHex(const QByteArray& hex)
{
    bool lower = false, upper = false;
    for (const char c : hex) {
        if (c >= 'a' && c <= 'f')
            lower = true;
        else if (c >= 'A' && c <= 'F')
            upper = true;
        else if (c < '0' || c > '9')
            return false;
    }
    return !(lower && upper) && hex.size() % 2 == 0;
}

QString commonName(X509* c)
{
    X509_NAME* name = X509_get_subject_name(c);
    const int at = name ? X509_NAME_get_index_by_NID(name, NID_commonName, -1) : -1;
    ASN1_STRING* value = at >= 0 ? X509_NAME_ENTRY_get_data(X509_NAME_get_entry(name, at)) : nullptr;
    unsigned char* utf8 = nullptr;
    const int length = value ? ASN1_STRING_to_UTF8(&utf8, value) : -1;
    if (length < 0)
        return {};
    const QString text = QString::fromUtf8(reinterpret_cast<const char*>(utf8), length);
    OPENSSL_free(utf8);
    return text;
}

std::optional<QDateTime> signingTime(CMS_SignerInfo* si)
{
    const int at = CMS_signed_get_attr_by_NID(si, NID_pkcs9_signingTime, -1);
    X509_ATTRIBUTE* attr = at >= 0 ? CMS_signed_get_attr(si, at) : nullptr;
    ASN1_TYPE* value = attr ? X509_ATTRIBUTE_get0_type(attr, 0) : nullptr;
    if (!value || (value->type != V_ASN1_UTCTIME && value->type != V_ASN1_GENERALIZEDTIME))
        return std::nullopt;
    struct tm tm {};
    if (ASN1_TIME_to_tm(value->value.utctime, &tm) != 1)
        return std::nullopt;
    return QDateTime(QDate(tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday), QTime(tm.tm_hour, tm.tm_min, tm.tm_sec),
                     Qt::UTC);
}

// The dictionary of the signature object whose /ByteRange is at `at`.
std::optional<QMap<QByteArray, QByteArray>> signatureDictionary(const QByteArray& pdf, qsizetype at)
{
    const qsizetype obj = pdf.lastIndexOf(" obj", at);
    const qsizetype open = obj < 0 ? -1 : pdf.indexOf("<<", obj);
    if (open < 0 || open > at)
        return std::nullopt;
    const qsizetype end = valueEnd(pdf, open);
    if (end < at)
        return std::nullopt;
    return entries(pdf.mid(open, end - open));
}

} // namespace

PdfCheck checkPdf(const QByteArray& pdf, X509* trusted)
{
    PdfCheck r;
    r.chainCheckedOutside = trusted != nullptr;
    const QByteArray key = "/ByteRange";
    const qsizetype at = pdf.indexOf(key);
    if (at < 0)
        return finding(std::move(r), PdfFinding::NotSigned, QStringLiteral("文件没有签名"));
    if (pdf.indexOf(key, at + 1) >= 0)
        return finding(std::move(r), PdfFinding::Altered,
                       QStringLiteral("文件有不止一处签名范围：签名之后又被加签或改动"));

    // The range: all of the file but the /Contents hex string, up to its last byte.
    qsizetype i = skipWhite(pdf, at + key.size());
    std::optional<qint64> range[4];
    if (i < pdf.size() && pdf[i] == '[') {
        ++i;
        for (auto& n : range)
            n = readInt(pdf, i);
        i = skipWhite(pdf, i);
    }
    const auto altered = [&](const QString& why) {
        return finding(std::move(r), PdfFinding::Altered, QStringLiteral("文件已被改动：%1").arg(why));
    };
    if (i >= pdf.size() || pdf[i] != ']' || !range[0] || !range[1] || !range[2] || !range[3])
        return altered(QStringLiteral("签名范围无法读取"));
    const qint64 start = *range[0], gapStart = *range[1], gapEnd = *range[2], tailLength = *range[3];
    if (start != 0 || gapStart <= 0 || gapEnd <= gapStart || gapEnd > pdf.size())
        return altered(QStringLiteral("签名范围不合理"));
    if (gapEnd + tailLength < pdf.size())
        return altered(QStringLiteral("签名之后文件又被追加了 %1 字节").arg(pdf.size() - gapEnd - tailLength));
    if (gapEnd + tailLength > pdf.size())
        return altered(QStringLiteral("文件比签名时短"));
    const QByteArray gap = pdf.mid(gapStart, gapEnd - gapStart);
    qsizetype before = gapStart;
    while (before > 0 && isWhite(pdf[before - 1]))
        --before;
    const QByteArray contentsKey = "/Contents";
    if (gap.size() < 2 || gap.front() != '<' || gap.back() != '>' || !canonicalHex(gap.mid(1, gap.size() - 2)) ||
        pdf.mid(before - contentsKey.size(), contentsKey.size()) != contentsKey)
        return altered(QStringLiteral("签名范围之外除了签名还有别的内容"));

    const QByteArray der = QByteArray::fromHex(gap.mid(1, gap.size() - 2));
    const auto* p = reinterpret_cast<const unsigned char*>(der.constData());
    crypto::Cms cms(d2i_CMS_ContentInfo(nullptr, &p, long(der.size())));
    if (!cms)
        return altered(QStringLiteral("签名无法读取"));
    const qsizetype used = reinterpret_cast<const char*>(p) - der.constData();
    if (std::any_of(der.begin() + used, der.end(), [](char c) { return c != 0; }))
        return altered(QStringLiteral("签名之后的填充被改动"));

    if (const auto dict = signatureDictionary(pdf, at)) {
        r.certificateNumber = readTextString(dict->value("CertificateNumber"));
        r.contentSha256 = readTextString(dict->value("ContentSha256"));
    }
    const QByteArray signedBytes = pdf.left(gapStart) + pdf.mid(gapEnd);
    crypto::Bio data = crypto::memoryReader(signedBytes);
    constexpr unsigned kFlags = CMS_BINARY | CMS_DETACHED | CMS_NO_SIGNER_CERT_VERIFY;
    STACK_OF(CMS_SignerInfo)* infos = CMS_get0_SignerInfos(cms.get());
    if (!infos || sk_CMS_SignerInfo_num(infos) != 1)
        return altered(QStringLiteral("签名不是一个签名人的签名"));
    if (CMS_verify(cms.get(), nullptr, nullptr, data.get(), nullptr, kFlags) != 1)
        return altered(QStringLiteral("签名与文件内容不符"));
    {
        std::unique_ptr<STACK_OF(X509), Deleter<freeBorrowedStack>> signers(CMS_get0_signers(cms.get()));
        X509* signer = signers && sk_X509_num(signers.get()) == 1 ? sk_X509_value(signers.get(), 0) : nullptr;
        if (!signer || X509_up_ref(signer) != 1)
            return altered(QStringLiteral("签名里没有签名人的证书"));
        r.signer.reset(signer);
    }
    r.signerName = commonName(r.signer.get());
    r.signerFingerprint = certificateFingerprint(r.signer.get());
    const auto when = signingTime(sk_CMS_SignerInfo_value(infos, 0));
    if (when)
        r.signingTime = when->toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));

    // The chain: to the lab certificate from outside, or else to the one the file carries.
    crypto::CertStack carried(CMS_get1_certs(cms.get()));
    std::unique_ptr<X509_STORE, Deleter<X509_STORE_free>> store(X509_STORE_new());
    bool anchored = false;
    if (trusted)
        anchored = X509_STORE_add_cert(store.get(), trusted) == 1;
    else
        for (int k = 0; carried && k < sk_X509_num(carried.get()); ++k) {
            X509* c = sk_X509_value(carried.get(), k);
            if (X509_cmp(c, r.signer.get()) != 0 && (X509_get_extension_flags(c) & EXFLAG_SS))
                anchored = X509_STORE_add_cert(store.get(), c) == 1 || anchored;
        }
    if (!anchored)
        return finding(std::move(r), PdfFinding::UnknownSigner, QStringLiteral("签名人不明：文件里没有实验室证书"));
    std::unique_ptr<X509_STORE_CTX, Deleter<X509_STORE_CTX_free>> ctx(X509_STORE_CTX_new());
    if (!ctx || X509_STORE_CTX_init(ctx.get(), store.get(), r.signer.get(), carried.get()) != 1)
        return finding(std::move(r), PdfFinding::UnknownSigner, QStringLiteral("签名人不明：证书链无法核对"));
    // A lab certificate issued by an authority is trusted as it is; validity is judged at the signing time.
    X509_STORE_CTX_set_flags(ctx.get(), X509_V_FLAG_PARTIAL_CHAIN);
    if (when)
        X509_STORE_CTX_set_time(ctx.get(), 0, time_t(when->toSecsSinceEpoch()));
    if (X509_verify_cert(ctx.get()) != 1)
        return finding(std::move(r), PdfFinding::UnknownSigner,
                       QStringLiteral("签名人不明：%1 的证书不是由实验室证书签发的（%2）")
                           .arg(r.signerName, QString::fromUtf8(X509_verify_cert_error_string(
                                                  X509_STORE_CTX_get_error(ctx.get())))));
    QString sentence = QStringLiteral("签名有效：%1 于 %2（UTC）签署，签名覆盖整个文件，签名人的证书由实验室证书签发")
                           .arg(r.signerName, r.signingTime);
    if (!trusted)
        sentence += QStringLiteral("；实验室证书取自文件本身，未与外部保存的副本核对");
    return finding(std::move(r), PdfFinding::Genuine, sentence);
}

} // namespace sf6

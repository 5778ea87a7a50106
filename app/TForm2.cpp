#include "app/TForm2.h"

#include "sf6/Version.h"

#include <QGroupBox>
#include <QLabel>
#include <QPushButton>

namespace {
// The 10-pixel cell of the original face holds no Chinese glyph; the Chinese
// fallback needs 13 pixels to stay legible and still fits the 185-pixel label.
constexpr int kCaptionPixels = 13;
constexpr int kVersionPixels = 13;

QFont sansSerif(int pixelSize)
{
    QFont f;
    f.setFamilies({QStringLiteral("MS Sans Serif"), QStringLiteral("SimSun"), QStringLiteral("Noto Sans CJK SC")});
    f.setPixelSize(pixelSize);
    return f;
}
} // namespace

TForm2::TForm2(QWidget* parent) : QDialog(parent)
{
    setObjectName(QStringLiteral("Form2"));
    setWindowTitle(QStringLiteral("关于"));
    setWindowFlags(Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowCloseButtonHint | Qt::WindowTitleHint);
    setFixedSize(293, 160);

    GroupBox1 = new QGroupBox(this);
    GroupBox1->setGeometry(16, 8, 257, 113);

    Label1 = new QLabel(QStringLiteral("全自动SF6密度继电器校验仪"), GroupBox1);
    Label1->setFont(sansSerif(kCaptionPixels));
    Label1->setGeometry(40, 24, 185, 16);
    Label2 = new QLabel(QStringLiteral("配套工具软件"), GroupBox1);
    Label2->setFont(sansSerif(kCaptionPixels));
    Label2->setGeometry(88, 56, 89, 16);
    Label3 = new QLabel(QStringLiteral("Version") + QStringLiteral(SF6_VERSION), GroupBox1);
    Label3->setFont(sansSerif(kVersionPixels));
    Label3->setGeometry(96, 82, 80, 16);

    Button1 = new QPushButton(QStringLiteral("确定"), this);
    Button1->setObjectName(QStringLiteral("Button1"));
    Button1->setGeometry(118, 128, 75, 25);
    connect(Button1, &QPushButton::clicked, this, &TForm2::Button1Click);
}

void TForm2::Button1Click() { hide(); }

#include "certificate/TLabForm.h"

#include "archive/ArchiveWindows.h"
#include "ui/Fonts.h"
#include "ui/MessageBox.h"

#include <QComboBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace {
constexpr QSize kWindowSize{520, 290};
} // namespace

TLabForm* TLabForm::open(const sf6::ArchiveLocation& location, QWidget* parent)
{
    auto archive = sf6::archiveForWindow(location, parent);
    return archive ? new TLabForm(std::move(archive), parent) : nullptr;
}

TLabForm::TLabForm(std::shared_ptr<sf6::Archive> archive, QWidget* parent)
    : QWidget(parent, Qt::Window), archive_(std::move(archive))
{
    setObjectName(QStringLiteral("LabForm"));
    setWindowTitle(QStringLiteral("实验室信息"));
    setAttribute(Qt::WA_DeleteOnClose);
    setFont(ui::windowFont());
    resize(kWindowSize);

    auto* form = new QFormLayout;
    auto field = [&](const QString& caption, const QString& name, const QString& tip = {}) {
        auto* e = new QLineEdit(this);
        e->setObjectName(name);
        e->setPlaceholderText(tip);
        form->addRow(caption, e);
        return e;
    };
    edName = field(QStringLiteral("校验单位"), QStringLiteral("edName"));
    edAddress = field(QStringLiteral("地址"), QStringLiteral("edAddress"));
    edPhone = field(QStringLiteral("电话"), QStringLiteral("edPhone"));
    edAccreditation = field(QStringLiteral("授权/认可证书编号"), QStringLiteral("edAccreditation"), QStringLiteral("可不填"));
    edPrefix = field(QStringLiteral("证书编号前缀"), QStringLiteral("edPrefix"),
                     QStringLiteral("空：%1").arg(sf6::kDefaultCertificatePrefix));
    cbDecisionRule = new QComboBox(this);
    cbDecisionRule->setObjectName(QStringLiteral("cbDecisionRule"));
    cbDecisionRule->addItems({sf6::kRuleSimpleName, sf6::kRuleGuardBandName});   // index = DecisionRule::Kind
    form->addRow(QStringLiteral("判定规则"), cbDecisionRule);
    edVerificationAddress = field(QStringLiteral("核验地址"), QStringLiteral("edVerificationAddress"),
                                  QStringLiteral("客户核对证书的网址，印在二维码中；可不填"));
    lbVersion = new QLabel(this);
    lbVersion->setObjectName(QStringLiteral("lbVersion"));
    btnSave = new QPushButton(QStringLiteral("保存"), this);
    btnSave->setObjectName(QStringLiteral("btnSave"));

    auto* buttons = new QHBoxLayout;
    buttons->addWidget(lbVersion, 1);
    buttons->addWidget(btnSave);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addStretch(1);
    layout->addLayout(buttons);

    connect(btnSave, &QPushButton::clicked, this, &TLabForm::btnSaveClick);
    FormCreate();
}

void TLabForm::FormCreate()
{
    const auto lab = sf6::currentLab(*archive_);
    if (!lab) {
        ui::MessageBoxes::show(lab.error(), this);
        return;
    }
    showLab(*lab);
}

void TLabForm::showLab(const std::optional<sf6::LabProfile>& lab)
{
    shown_ = lab.value_or(sf6::LabProfile{});
    edName->setText(shown_.name);
    edAddress->setText(shown_.address);
    edPhone->setText(shown_.phone);
    edAccreditation->setText(shown_.accreditation);
    edPrefix->setText(shown_.prefix);
    cbDecisionRule->setCurrentIndex(shown_.decisionRule == QLatin1String(sf6::kRuleGuardBandKey) ? 1 : 0);
    edVerificationAddress->setText(shown_.verificationAddress);
    lbVersion->setText(lab ? QStringLiteral("当前为第%1版，修改于 %2").arg(lab->version).arg(lab->changedAt)
                           : QStringLiteral("尚未保存，出具证书前请填写"));
}

void TLabForm::btnSaveClick()
{
    // Only what was changed here, so that a change saved meanwhile from
    // another computer keeps its fields; an emptied prefix is the default again.
    auto given = [](const QLineEdit* e, const QString& was) -> std::optional<QString> {
        const QString typed = e->text().trimmed();
        return typed == was ? std::nullopt : std::optional<QString>(typed);
    };
    sf6::LabTexts texts;
    texts.name = given(edName, shown_.name);
    texts.address = given(edAddress, shown_.address);
    texts.phone = given(edPhone, shown_.phone);
    texts.accreditation = given(edAccreditation, shown_.accreditation);
    texts.prefix = given(edPrefix, shown_.prefix);
    texts.verificationAddress = given(edVerificationAddress, shown_.verificationAddress);
    if (const QString rule = QString::fromLatin1(cbDecisionRule->currentIndex() == 1 ? sf6::kRuleGuardBandKey
                                                                                       : sf6::kRuleSimpleKey);
        rule != shown_.decisionRule)
        texts.decisionRule = rule;
    const auto saved = sf6::saveLab(*archive_, texts);
    if (!saved) {
        ui::MessageBoxes::show(saved.error(), this);
        return;
    }
    showLab(*saved);
}

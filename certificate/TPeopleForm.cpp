#include "certificate/TPeopleForm.h"

#include "archive/ArchiveWindows.h"
#include "certificate/CertificateActions.h"
#include "ui/FileDialogs.h"
#include "ui/Fonts.h"
#include "ui/MessageBox.h"
#include "ui/TextInputs.h"

#include <QCheckBox>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTableWidget>
#include <QVBoxLayout>

namespace {
constexpr QSize kWindowSize{980, 520};
const QStringList kColumns{QStringLiteral("姓名"), QStringLiteral("角色"), QStringLiteral("状态"),
                           QStringLiteral("版本"), QStringLiteral("修改时间"), QStringLiteral("证书指纹")};
const QString kTitle = QStringLiteral("人员");
const QString kLabPasswordLabel = QStringLiteral("实验室的密码：");
const QString kCertificateFilter = QStringLiteral("实验室证书 (*.pem)");
const QString kPfxFilter = QStringLiteral("密钥文件 (*.pfx *.p12)");
} // namespace

TPeopleForm* TPeopleForm::open(const sf6::ArchiveLocation& location, QWidget* parent)
{
    auto archive = sf6::archiveForWindow(location, parent);
    return archive ? new TPeopleForm(std::move(archive), parent) : nullptr;
}

TPeopleForm::TPeopleForm(std::shared_ptr<sf6::Archive> archive, QWidget* parent)
    : QWidget(parent, Qt::Window), archive_(std::move(archive))
{
    setObjectName(QStringLiteral("PeopleForm"));
    setWindowTitle(kTitle);
    setAttribute(Qt::WA_DeleteOnClose);
    setFont(ui::windowFont());
    resize(kWindowSize);

    auto* keyBox = new QGroupBox(QStringLiteral("实验室签名密钥"), this);
    lbLabKey = new QLabel(keyBox);
    lbLabKey->setObjectName(QStringLiteral("lbLabKey"));
    lbLabKey->setTextInteractionFlags(Qt::TextSelectableByMouse);
    btnCreateKey = new QPushButton(QStringLiteral("创建密钥…"), keyBox);
    btnImportKey = new QPushButton(QStringLiteral("导入密钥…"), keyBox);
    btnExportCertificate = new QPushButton(QStringLiteral("导出实验室证书…"), keyBox);
    auto* keyRow = new QHBoxLayout(keyBox);
    keyRow->addWidget(lbLabKey, 1);
    keyRow->addWidget(btnCreateKey);
    keyRow->addWidget(btnImportKey);
    keyRow->addWidget(btnExportCertificate);

    PeopleGrid = new QTableWidget(0, int(kColumns.size()), this);
    PeopleGrid->setObjectName(QStringLiteral("PeopleGrid"));
    PeopleGrid->setHorizontalHeaderLabels(kColumns);
    PeopleGrid->setSelectionBehavior(QAbstractItemView::SelectRows);
    PeopleGrid->setSelectionMode(QAbstractItemView::SingleSelection);
    PeopleGrid->setEditTriggers(QAbstractItemView::NoEditTriggers);
    PeopleGrid->verticalHeader()->hide();
    PeopleGrid->horizontalHeader()->setStretchLastSection(true);

    auto* fields = new QGroupBox(QStringLiteral("人员信息"), this);
    auto* form = new QFormLayout(fields);
    edName = new QLineEdit(fields);
    edName->setObjectName(QStringLiteral("edName"));
    form->addRow(QStringLiteral("姓名"), edName);
    cbTester = new QCheckBox(sf6::roles::kTester, fields);
    cbChecker = new QCheckBox(sf6::roles::kChecker, fields);
    cbApprover = new QCheckBox(sf6::roles::kApprover, fields);
    auto* roleRow = new QHBoxLayout;
    for (QCheckBox* c : {cbTester, cbChecker, cbApprover})
        roleRow->addWidget(c);
    roleRow->addStretch(1);
    form->addRow(QStringLiteral("角色"), roleRow);

    btnAdd = new QPushButton(QStringLiteral("添加"), this);
    btnSave = new QPushButton(QStringLiteral("保存角色"), this);
    btnRetire = new QPushButton(QStringLiteral("停用"), this);
    btnNewKey = new QPushButton(QStringLiteral("新密钥…"), this);
    btnPassword = new QPushButton(QStringLiteral("修改密码…"), this);
    btnNewKey->setToolTip(QStringLiteral("忘记密码时：用实验室的密码为此人换一把新密钥"));
    btnPassword->setToolTip(QStringLiteral("本人修改自己的密码，只需原密码"));
    auto* buttons = new QHBoxLayout;
    for (QPushButton* b : {btnAdd, btnSave, btnRetire, btnNewKey, btnPassword})
        buttons->addWidget(b);
    buttons->addStretch(1);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(keyBox);
    layout->addWidget(PeopleGrid, 1);
    layout->addWidget(fields);
    layout->addLayout(buttons);

    connect(PeopleGrid, &QTableWidget::cellClicked, this, [this](int row, int) { PeopleGridClick(row); });
    connect(btnCreateKey, &QPushButton::clicked, this, &TPeopleForm::btnCreateKeyClick);
    connect(btnImportKey, &QPushButton::clicked, this, &TPeopleForm::btnImportKeyClick);
    connect(btnExportCertificate, &QPushButton::clicked, this, &TPeopleForm::btnExportCertificateClick);
    connect(btnAdd, &QPushButton::clicked, this, &TPeopleForm::btnAddClick);
    connect(btnSave, &QPushButton::clicked, this, &TPeopleForm::btnSaveClick);
    connect(btnRetire, &QPushButton::clicked, this, &TPeopleForm::btnRetireClick);
    connect(btnNewKey, &QPushButton::clicked, this, &TPeopleForm::btnNewKeyClick);
    connect(btnPassword, &QPushButton::clicked, this, &TPeopleForm::btnPasswordClick);
    FormCreate();
}

void TPeopleForm::FormCreate()
{
    const auto key = sf6::currentLabKey(*archive_);
    if (!key) {
        ui::MessageBoxes::show(key.error(), this);
        return;
    }
    hasLabKey_ = key->has_value();
    lbLabKey->setText(hasLabKey_ ? QStringLiteral("证书指纹 %1（第%2版，%3）")
                                       .arg((*key)->fingerprint)
                                       .arg((*key)->version)
                                       .arg((*key)->changedAt)
                                 : kNoLabKey);
    // A lab has one key: a second would leave signatures made with the first without their issuer.
    btnCreateKey->setEnabled(!hasLabKey_);
    btnImportKey->setEnabled(!hasLabKey_);
    btnExportCertificate->setEnabled(hasLabKey_);

    const auto all = sf6::peopleActions().listPeople(*archive_);
    if (!all) {
        ui::MessageBoxes::show(all.error(), this);
        return;
    }
    people_ = *all;
    PeopleGrid->setRowCount(int(people_.size()));
    for (int row = 0; row < int(people_.size()); ++row) {
        const sf6::PersonVersion& p = people_[std::size_t(row)];
        const QStringList cells{p.name,
                                p.roles.join(QStringLiteral("、")),
                                p.retired ? kRetired : kActive,
                                QString::number(p.version),
                                p.changedAt,
                                p.fingerprint};
        for (int c = 0; c < cells.size(); ++c) {
            auto* item = new QTableWidgetItem(cells[c]);
            if (p.retired)   // kept for the signatures made, but no longer signs
                item->setForeground(PeopleGrid->palette().brush(QPalette::Disabled, QPalette::Text));
            PeopleGrid->setItem(row, c, item);
        }
    }
    PeopleGrid->resizeColumnsToContents();
    for (QPushButton* b : {btnAdd, btnSave, btnRetire, btnNewKey})
        b->setEnabled(hasLabKey_);
}

void TPeopleForm::PeopleGridClick(int row)
{
    if (row < 0 || row >= int(people_.size()))
        return;
    const sf6::PersonVersion& p = people_[std::size_t(row)];
    edName->setText(p.name);
    cbTester->setChecked(p.roles.contains(sf6::roles::kTester));
    cbChecker->setChecked(p.roles.contains(sf6::roles::kChecker));
    cbApprover->setChecked(p.roles.contains(sf6::roles::kApprover));
}

QStringList TPeopleForm::checkedRoles() const
{
    QStringList roles;
    for (QCheckBox* c : {cbTester, cbChecker, cbApprover})
        if (c->isChecked())
            roles << c->text();
    return roles;
}

const sf6::PersonVersion* TPeopleForm::shownPerson() const
{
    const QString name = edName->text().trimmed();
    for (const sf6::PersonVersion& p : people_)
        if (p.name == name)
            return &p;
    return nullptr;
}

std::optional<QString> TPeopleForm::askPassword(const QString& title, const QString& label)
{
    return ui::TextInputs::ask(ui::TextRequest{title, label, {}, true}, this);
}

std::optional<QString> TPeopleForm::askNewPassword(const QString& title, const QString& name)
{
    const auto first = askPassword(title, QStringLiteral("%1的新密码：").arg(name));
    if (!first)
        return std::nullopt;
    const auto again = askPassword(title, QStringLiteral("再输入一次%1的新密码：").arg(name));
    if (!again)
        return std::nullopt;
    if (*first != *again) {
        ui::MessageBoxes::show(kPasswordsDiffer, this);
        return std::nullopt;
    }
    return first;
}

void TPeopleForm::saved(const sf6::Expected<sf6::PersonVersion>& result)
{
    if (!result) {
        ui::MessageBoxes::show(result.error(), this);
        return;
    }
    FormCreate();
    for (int row = 0; row < int(people_.size()); ++row)
        if (people_[std::size_t(row)].name == result->name) {
            PeopleGrid->selectRow(row);
            PeopleGridClick(row);
        }
}

bool TPeopleForm::refusedBeforePasswords(const sf6::PersonChange& change)
{
    // Without passwords nothing can be written, but a missing name or role,
    // a retired person or an unchanged one is told before any is typed.
    const auto tried = sf6::peopleActions().savePerson(*archive_, change);
    if (!tried && tried.code() == sf6::ErrorCode::WrongPassword)
        return false;
    saved(tried);
    return true;
}

void TPeopleForm::btnCreateKeyClick()
{
    const QString title = QStringLiteral("创建实验室密钥");
    const auto lab = askNewPassword(title, sf6::kLabPasswordName);
    if (!lab)
        return;
    labKeySaved(sf6::peopleActions().createLabKey(*archive_, *lab));
}

void TPeopleForm::btnImportKeyClick()
{
    const QString title = QStringLiteral("导入实验室密钥");
    const QStringList files = ui::FileDialogs::openFileNames({title, kPfxFilter}, this);
    if (files.isEmpty())
        return;
    const auto pfx = askPassword(title, QStringLiteral("密钥文件的密码："));
    if (!pfx)
        return;
    const auto lab = askNewPassword(title, sf6::kLabPasswordName);
    if (!lab)
        return;
    labKeySaved(sf6::peopleActions().importLabKey(*archive_, files.front(), *pfx, *lab));
}

void TPeopleForm::labKeySaved(const sf6::Expected<sf6::LabKey>& made)
{
    if (!made) {
        ui::MessageBoxes::show(made.error(), this);
        return;
    }
    FormCreate();
    ui::MessageBoxes::show(
        QStringLiteral("实验室签名密钥已保存，证书指纹 %1；请导出实验室证书，存放在存档以外").arg(made->fingerprint), this);
}

void TPeopleForm::btnExportCertificateClick()
{
    const QString path = ui::FileDialogs::saveFileName(
        {QStringLiteral("导出实验室证书"), QStringLiteral("实验室证书.pem"), kCertificateFilter}, this);
    if (path.isEmpty())
        return;
    const auto lab = sf6::peopleActions().exportLabCertificate(*archive_, path);
    if (!lab) {
        ui::MessageBoxes::show(lab.error(), this);
        return;
    }
    ui::SavedFiles::tell(path);
    ui::MessageBoxes::show(QStringLiteral("实验室证书已写入 %1，指纹 %2").arg(path, lab->fingerprint), this);
}

void TPeopleForm::btnAddClick()
{
    const QString name = edName->text().trimmed();
    if (shownPerson()) {
        ui::MessageBoxes::show(QStringLiteral("%1已在人员名单中；改角色请用「保存角色」").arg(name), this);
        return;
    }
    sf6::PersonChange change;
    change.name = name;
    change.roles = checkedRoles();
    saveWithLabPassword(change, QStringLiteral("添加人员"), name);
}

void TPeopleForm::btnSaveClick()
{
    const sf6::PersonVersion* person = shownPerson();
    if (!person) {
        ui::MessageBoxes::show(QStringLiteral("人员名单中没有 %1（新人员用「添加」）").arg(edName->text().trimmed()), this);
        return;
    }
    sf6::PersonChange change;
    change.name = person->name;
    change.roles = checkedRoles();
    saveWithLabPassword(change, QStringLiteral("修改%1的角色").arg(person->name));
}

// A change under the lab's password (and, for a new key, the person's new
// one), asked once the core has no other objection.
void TPeopleForm::saveWithLabPassword(sf6::PersonChange change, const QString& title, const QString& newKeyFor)
{
    if (refusedBeforePasswords(change))
        return;
    const auto lab = askPassword(title, kLabPasswordLabel);
    if (!lab)
        return;
    change.labPassword = *lab;
    if (!newKeyFor.isEmpty()) {
        const auto own = askNewPassword(title, newKeyFor);
        if (!own)
            return;
        change.personPassword = *own;
    }
    saved(sf6::peopleActions().savePerson(*archive_, change));
}

void TPeopleForm::btnRetireClick()
{
    const sf6::PersonVersion* person = shownPerson();
    if (!person) {
        ui::MessageBoxes::show(QStringLiteral("人员名单中没有 %1，无从停用").arg(edName->text().trimmed()), this);
        return;
    }
    sf6::PersonChange change;
    change.name = person->name;
    change.retire = true;
    saveWithLabPassword(change, QStringLiteral("停用%1（此后不能再签名，也不能恢复）").arg(person->name));
}

void TPeopleForm::btnNewKeyClick()
{
    const sf6::PersonVersion* person = shownPerson();
    if (!person) {
        ui::MessageBoxes::show(QStringLiteral("人员名单中没有 %1").arg(edName->text().trimmed()), this);
        return;
    }
    sf6::PersonChange change;
    change.name = person->name;
    change.newKey = true;
    saveWithLabPassword(change, QStringLiteral("为%1换新密钥").arg(person->name), person->name);
}

void TPeopleForm::btnPasswordClick()
{
    const sf6::PersonVersion* person = shownPerson();
    if (!person) {
        ui::MessageBoxes::show(QStringLiteral("人员名单中没有 %1").arg(edName->text().trimmed()), this);
        return;
    }
    const QString name = person->name;
    const QString title = QStringLiteral("修改%1的密码").arg(name);
    const auto old = askPassword(title, QStringLiteral("%1现在的密码：").arg(name));
    if (!old)
        return;
    const auto fresh = askNewPassword(title, name);
    if (!fresh)
        return;
    saved(sf6::peopleActions().changePassword(*archive_, name, *old, *fresh));
}

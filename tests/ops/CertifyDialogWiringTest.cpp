// The window's side of issuing: 确定 goes through the actions the program
// installed (the operations layer), and a record waiting for the P20 word is
// asked about once, then issued with it.
#include "archive/ArchiveStore.h"
#include "certificate/TCertifyDialog.h"
#include "tests/ops/CertificateOps.h"
#include "ui/Choices.h"

#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>

#include <memory>

using namespace sf6;
using opstest::CertificateOps;

TEST_F(CertificateOps, theDialogIssuesThroughTheInstalledLayerAndAsksForTheP20Word)
{
    int calls = 0;
    CertificateActions counted = ops::certificateActions();
    counted.issue = [&calls, layer = counted.issue](Archive& a, const CertifyRequest& rq) {
        ++calls;
        return layer(a, rq);
    };
    setCertificateActions(counted);

    const auto record = findRecord(*archive, synced[1]);
    ASSERT_TRUE(record.ok() && *record);
    auto d = std::make_unique<TCertifyDialog>(*archive, **record, nullptr);
    d->setAttribute(Qt::WA_DeleteOnClose, false);
    ASSERT_EQ(d->cbStandard->count(), 1);
    d->edTester->setText(QStringLiteral("张三"));
    d->edChecker->setText(QStringLiteral("李四"));
    {
        ui::ChoiceAnswer no(-1);
        d->btnOK->click();
        ASSERT_EQ(no.requests.size(), 1u);
        EXPECT_TRUE(no.requests[0].label.endsWith(QStringLiteral("。仍要出具证书吗？"))) << no.requests[0].label.toStdString();
        EXPECT_FALSE(d->issuedCertificate());
        EXPECT_EQ(certificates(), 0u);
    }
    {
        ui::ChoiceAnswer yes(0);
        d->btnOK->click();
        EXPECT_EQ(yes.requests.size(), 1u);
        ASSERT_TRUE(d->issuedCertificate());
        EXPECT_TRUE(d->issuedCertificate()->content.p20Accepted);
    }
    EXPECT_EQ(calls, 3) << "refused, refused again, issued: each through the installed layer";
    EXPECT_EQ(certificates(), 1u);
    setCertificateActions({});
}

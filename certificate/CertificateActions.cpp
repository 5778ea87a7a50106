#include "certificate/CertificateActions.h"

namespace sf6 {

namespace {
CertificateActions& installed()
{
    static CertificateActions actions;
    return actions;
}
} // namespace

void setCertificateActions(CertificateActions actions) { installed() = std::move(actions); }

const CertificateActions& certificateActions() { return installed(); }

} // namespace sf6

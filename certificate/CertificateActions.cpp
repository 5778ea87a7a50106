#include "certificate/CertificateActions.h"

namespace sf6 {

namespace {
CertificateActions& installed()
{
    static CertificateActions actions;
    return actions;
}
PeopleActions& installedPeople()
{
    static PeopleActions actions;
    return actions;
}
} // namespace

void setCertificateActions(CertificateActions actions) { installed() = std::move(actions); }

const CertificateActions& certificateActions() { return installed(); }

void setPeopleActions(PeopleActions actions) { installedPeople() = std::move(actions); }

const PeopleActions& peopleActions() { return installedPeople(); }

} // namespace sf6

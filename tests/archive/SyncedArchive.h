#pragma once
// A fresh archive on the engine under test holding the records of one
// complete sync: where most suites of the archive's users begin.

#include "archive/Archive.h"
#include "archive/ArchiveStore.h"
#include "tests/archive/PgServer.h"

#include <QTemporaryDir>

#include <memory>
#include <vector>

namespace archivetest {

class SyncedArchive : public ::testing::TestWithParam<Engine> {
protected:
    // Call from SetUp; a failure is fatal to the test (ASSERT_FALSE(HasFatalFailure())).
    void openWithRecords(const std::vector<QByteArray>& records)
    {
        location = freshLocation(GetParam(), dir);
        auto a = sf6::Archive::open(*sf6::ArchiveLocation::parse(location));
        ASSERT_TRUE(a.ok()) << a.error().toStdString();
        archive = std::move(*a);
        auto s = sf6::archiveSync(*archive, sf6::SyncLog{sf6::Archive::now(), QStringLiteral("test"),
                                                         QStringLiteral("COM3"), int(records.size()),
                                                         sf6::SyncEnd::Complete, records});
        ASSERT_TRUE(s.ok()) << s.error().toStdString();
        ids = s->recordIds;
    }

    QTemporaryDir dir;
    QString location;
    std::shared_ptr<sf6::Archive> archive;
    std::vector<int> ids;
};

} // namespace archivetest

// A failure never reads as success: not without words, not without a code, and
// not when a success is handed to an Expected as its failure.
#include "base/Status.h"

#include <gtest/gtest.h>

using sf6::ErrorCode;
using sf6::Expected;
using sf6::Status;

TEST(Status, aFailureAlwaysHasACodeAndASentence)
{
    const Status plain = Status::failure(QStringLiteral("磁盘已满"));
    EXPECT_FALSE(plain.ok());
    EXPECT_EQ(plain.code(), ErrorCode::Failed);
    EXPECT_EQ(plain.message(), QStringLiteral("磁盘已满"));

    const Status wordless = Status::failure(ErrorCode::ArchiveLocked, QString());
    EXPECT_FALSE(wordless.ok());
    EXPECT_EQ(wordless.code(), ErrorCode::ArchiveLocked);
    EXPECT_EQ(wordless.message(), QStringLiteral("未知错误"));

    const Status codeless = Status::failure(ErrorCode::None, QStringLiteral("x"));
    EXPECT_FALSE(codeless.ok());
    EXPECT_EQ(codeless.code(), ErrorCode::Failed);

    EXPECT_TRUE(Status::success().ok());
    EXPECT_EQ(Status::success().code(), ErrorCode::None);
}

TEST(Status, expectedCarriesTheCodeOfItsFailure)
{
    const Expected<int> value(7);
    EXPECT_EQ(value.code(), ErrorCode::None);
    EXPECT_TRUE(value.status().ok());

    const Expected<int> missing(Status::failure(ErrorCode::NotFound, QStringLiteral("存档中没有档案号为 9 的记录")));
    EXPECT_FALSE(missing.ok());
    EXPECT_EQ(missing.code(), ErrorCode::NotFound);
    EXPECT_EQ(missing.status().code(), ErrorCode::NotFound);
    EXPECT_EQ(missing.error(), QStringLiteral("存档中没有档案号为 9 的记录"));

    const Expected<int> handedSuccess(Status::success());
    EXPECT_FALSE(handedSuccess.ok());
    EXPECT_EQ(handedSuccess.code(), ErrorCode::Failed);
    EXPECT_FALSE(handedSuccess.error().isEmpty());
}

#include "support/Fakes.h"

#include "support/TestSupport.h"

using namespace slimreel;
using namespace slimreel::test;

namespace {

class BatchQueueModelTest : public ControllerTest {
protected:
    QVariant role(int row, BatchQueueModel::Role r) const
    {
        auto *model = vm->batchItemsModel();
        return model->data(model->index(row), r);
    }
};

TEST_F(BatchQueueModelTest, RowsFollowTheQueue)
{
    auto *model = vm->batchItemsModel();
    SignalCount inserted(model, &QAbstractItemModel::rowsInserted);
    importNow({video(QStringLiteral("a.mp4"), 12.5, 1234), video(QStringLiteral("b.mp4"))});
    EXPECT_EQ(inserted.count(), 2);
    ASSERT_EQ(model->rowCount(), 2);
    EXPECT_EQ(role(0, BatchQueueModel::ItemIdRole).toString(),
              vm->batchItems().at(0).id.toString(QUuid::WithoutBraces));
    EXPECT_EQ(role(0, BatchQueueModel::FileNameRole).toString(), "a.mp4");
    EXPECT_EQ(role(0, BatchQueueModel::DurationRole).toDouble(), 12.5);
    EXPECT_EQ(role(0, BatchQueueModel::FileSizeRole).toLongLong(), 1234);
    EXPECT_EQ(role(0, BatchQueueModel::StateRole).toString(), "pending");
    EXPECT_FALSE(model->data(model->index(5), BatchQueueModel::FileNameRole).isValid());

    // Selection moves with two row changes, no reset.
    SignalCount changed(model, &QAbstractItemModel::dataChanged);
    SignalCount reset(model, &QAbstractItemModel::modelReset);
    vm->selectItem(vm->batchItems().at(1).id);
    EXPECT_EQ(changed.count(), 2);
    EXPECT_FALSE(role(0, BatchQueueModel::IsSelectedRole).toBool());
    EXPECT_TRUE(role(1, BatchQueueModel::IsSelectedRole).toBool());

    vm->compressAll(outputFolder());
    coordinator->succeed(0);
    ASSERT_TRUE(spinUntil([&] { return coordinator->calls.size() == 2; }));
    coordinator->fail(1, CompressionError::failed(QStringLiteral("broken")));
    ASSERT_TRUE(settle());
    EXPECT_EQ(role(0, BatchQueueModel::StateRole).toString(), "completed");
    EXPECT_EQ(role(0, BatchQueueModel::ProgressRole).toDouble(), 1);
    EXPECT_EQ(role(0, BatchQueueModel::OutputPathRole).toString(), coordinator->calls.at(0)->destination.toLocalFile());
    EXPECT_EQ(role(1, BatchQueueModel::StateRole).toString(), "failed");
    EXPECT_EQ(role(1, BatchQueueModel::FailureMessageRole).toString(), "broken");
    EXPECT_EQ(reset.count(), 0);

    SignalCount removed(model, &QAbstractItemModel::rowsRemoved);
    vm->removeItem(vm->batchItems().at(0).id);
    EXPECT_EQ(removed.count(), 1);
    EXPECT_EQ(role(0, BatchQueueModel::FileNameRole).toString(), "b.mp4");
}

} // namespace

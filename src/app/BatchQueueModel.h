#pragma once

#include "model/BatchVideoItem.h"

#include <QAbstractListModel>
#include <QList>
#include <QUuid>

#include <optional>

namespace slimreel {

// The queue as a list model for the views. It owns no data: it reads the
// controller's list and selection, and the controller announces every edit, so
// a progress tick changes one row instead of rebuilding the list.
class BatchQueueModel : public QAbstractListModel {
    Q_OBJECT
public:
    enum Role {
        ItemIdRole = Qt::UserRole + 1, // QString, the item's UUID without braces
        FileNameRole,                  // QString
        DurationRole,                  // double, seconds
        FileSizeRole,                  // qint64, bytes
        StateRole,                     // "pending", "compressing", "completed" or "failed"
        FailureMessageRole,            // QString, empty unless failed
        ProgressRole,                  // double, 0 to 1
        OutputPathRole,                // QString, local path of the written output, empty before
        IsSelectedRole,                // bool
    };
    Q_ENUM(Role)

    BatchQueueModel(const QList<BatchVideoItem> &items, const std::optional<QUuid> &selection,
                    QObject *parent = nullptr);

    int rowCount(const QModelIndex &parent = QModelIndex()) const override;
    QVariant data(const QModelIndex &index, int role) const override;
    QHash<int, QByteArray> roleNames() const override;

    // For the views, which keep these rows in sight: the row of an item (by its
    // id text) and of the video being compressed; -1 when there is none.
    Q_INVOKABLE int rowOfItem(const QString &id) const { return rowOf(QUuid::fromString(id)); }
    Q_INVOKABLE int compressingRow() const;

    static QString stateText(const BatchItemState &state);
    static QString idText(const QUuid &id);

    // Called by the controller around its own edits of the list.
    void beginAppend(int count);
    void endAppend();
    void beginRemove(int row);
    void endRemove();
    void beginReset();
    void endReset();
    void rowChanged(int row, const QList<int> &roles);
    void allRowsChanged(const QList<int> &roles);
    void selectionChanged(const std::optional<QUuid> &previous);

private:
    int rowOf(const QUuid &id) const;

    const QList<BatchVideoItem> &m_items;
    const std::optional<QUuid> &m_selection;
};

} // namespace slimreel

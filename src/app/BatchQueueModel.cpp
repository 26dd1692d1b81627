#include "app/BatchQueueModel.h"

#include <algorithm>


namespace slimreel {

BatchQueueModel::BatchQueueModel(const QList<BatchVideoItem> &items, const std::optional<QUuid> &selection,
                                 QObject *parent)
    : QAbstractListModel(parent)
    , m_items(items)
    , m_selection(selection)
{
}

int BatchQueueModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : static_cast<int>(m_items.size());
}

QVariant BatchQueueModel::data(const QModelIndex &index, int role) const
{
    if (!index.isValid() || index.row() < 0 || index.row() >= m_items.size()) {
        return {};
    }
    const BatchVideoItem &item = m_items.at(index.row());
    switch (role) {
    case ItemIdRole:
        return idText(item.id);
    case Qt::DisplayRole:
    case FileNameRole:
        return item.info.url.fileName();
    case DurationRole:
        return item.info.duration;
    case FileSizeRole:
        return static_cast<qint64>(item.info.fileSize);
    case StateRole:
        return stateText(item.state);
    case FailureMessageRole:
        return item.state.kind == BatchItemState::Case::failed ? item.state.message : QString();
    case ProgressRole:
        return item.progress;
    case OutputPathRole:
        return item.outputURL ? item.outputURL->toLocalFile() : QString();
    case IsSelectedRole:
        return m_selection.has_value() && *m_selection == item.id;
    default:
        return {};
    }
}

QHash<int, QByteArray> BatchQueueModel::roleNames() const
{
    return {
        {ItemIdRole, "itemId"},
        {FileNameRole, "fileName"},
        {DurationRole, "duration"},
        {FileSizeRole, "fileSize"},
        {StateRole, "state"},
        {FailureMessageRole, "failureMessage"},
        {ProgressRole, "progress"},
        {OutputPathRole, "outputPath"},
        {IsSelectedRole, "isSelected"},
    };
}

QString BatchQueueModel::stateText(const BatchItemState &state)
{
    switch (state.kind) {
    case BatchItemState::Case::pending:
        return QStringLiteral("pending");
    case BatchItemState::Case::compressing:
        return QStringLiteral("compressing");
    case BatchItemState::Case::completed:
        return QStringLiteral("completed");
    case BatchItemState::Case::failed:
        break;
    }
    return QStringLiteral("failed");
}

QString BatchQueueModel::idText(const QUuid &id)
{
    return id.toString(QUuid::WithoutBraces);
}

void BatchQueueModel::beginAppend(int count)
{
    const int first = static_cast<int>(m_items.size());
    beginInsertRows(QModelIndex(), first, first + count - 1);
}

void BatchQueueModel::endAppend()
{
    endInsertRows();
}

void BatchQueueModel::beginRemove(int row)
{
    beginRemoveRows(QModelIndex(), row, row);
}

void BatchQueueModel::endRemove()
{
    endRemoveRows();
}

void BatchQueueModel::beginReset()
{
    beginResetModel();
}

void BatchQueueModel::endReset()
{
    endResetModel();
}

void BatchQueueModel::rowChanged(int row, const QList<int> &roles)
{
    if (row < 0 || row >= m_items.size()) {
        return;
    }
    const QModelIndex at = index(row);
    Q_EMIT dataChanged(at, at, roles);
}

void BatchQueueModel::allRowsChanged(const QList<int> &roles)
{
    if (m_items.isEmpty()) {
        return;
    }
    Q_EMIT dataChanged(index(0), index(static_cast<int>(m_items.size()) - 1), roles);
}

void BatchQueueModel::selectionChanged(const std::optional<QUuid> &previous)
{
    const QList<int> roles{IsSelectedRole};
    if (previous) {
        rowChanged(rowOf(*previous), roles);
    }
    if (m_selection) {
        rowChanged(rowOf(*m_selection), roles);
    }
}

int BatchQueueModel::compressingRow() const
{
    const auto found = std::ranges::find(m_items, BatchItemState::Case::compressing,
                                         [](const BatchVideoItem &item) { return item.state.kind; });
    return found == m_items.end() ? -1 : static_cast<int>(found - m_items.begin());
}

int BatchQueueModel::rowOf(const QUuid &id) const
{
    for (int row = 0; row < m_items.size(); ++row) {
        if (m_items.at(row).id == id) {
            return row;
        }
    }
    return -1;
}

} // namespace slimreel

#include "controller/LogList.h"

#include "core/UTCTime.h"

#include <ctime>

#include <QDateTime>

namespace quelmar {

void LogList::append(LogLine line) {
    if (lines_.size() >= limit) {
        const auto excess = static_cast<int>(lines_.size() - limit + 1);
        beginRemoveRows(QModelIndex(), 0, excess - 1);
        lines_.erase(lines_.begin(), lines_.begin() + excess);
        endRemoveRows();
    }
    const auto row = static_cast<int>(lines_.size());
    beginInsertRows(QModelIndex(), row, row);
    lines_.push_back(std::move(line));
    endInsertRows();
}

void LogList::clear() {
    if (lines_.empty()) {
        return;
    }
    beginResetModel();
    lines_.clear();
    endResetModel();
}

std::string LogList::exportText() const {
    std::string text;
    for (const auto& line : lines_) {
        if (&line != &lines_.front()) {
            text += '\n';
        }
        text += utcText(line.date);
        text += ' ';
        text += line.text.toStdString();
    }
    return text;
}

int LogList::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(lines_.size());
}

QVariant LogList::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() < 0 || static_cast<std::size_t>(index.row()) >= lines_.size()) {
        return {};
    }
    const auto& line = lines_[static_cast<std::size_t>(index.row())];
    if (role == Qt::DisplayRole) {
        return line.text;
    }
    if (role == dateRole) {
        const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(line.date.time_since_epoch());
        return QDateTime::fromMSecsSinceEpoch(ms.count(), Qt::UTC);
    }
    return {};
}

} // namespace quelmar

#pragma once

#include <chrono>
#include <cstddef>
#include <deque>

#include <QAbstractListModel>
#include <QString>
#include <QUuid>

namespace quelmar {

// One log entry.
struct LogLine {
    QUuid id;
    std::chrono::system_clock::time_point date;
    QString text;
};

// The in-memory log, oldest first and bounded, as a list model for the log view: the display role is the text,
// dateRole the entry's time as a QDateTime.
class LogList final : public QAbstractListModel {
    Q_OBJECT

public:
    static constexpr std::size_t limit = 300;
    static constexpr int dateRole = Qt::UserRole + 1;

    using QAbstractListModel::QAbstractListModel;

    const std::deque<LogLine>& lines() const { return lines_; }
    // Appends, then drops the oldest entries beyond the limit.
    void append(LogLine line);
    void clear();

    // The entries as exported: an ISO 8601 UTC time with whole seconds and "Z", a space, the text; lines joined by
    // a line feed, none after the last.
    std::string exportText() const;

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;

private:
    std::deque<LogLine> lines_;
};

} // namespace quelmar

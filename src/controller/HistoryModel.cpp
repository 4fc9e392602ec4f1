#include "controller/HistoryModel.h"

#include "controller/AppModel.h"
#include "controller/Dialogs.h"
#include "controller/MainThread.h"
#include "core/UPSError.h"
#include "history/HistoryCSV.h"
#include "system/Files.h"

#include <algorithm>
#include <utility>

#include <QPointer>

namespace quelmar {

HistoryModel::HistoryModel(AppModel& app, std::filesystem::path file, std::chrono::milliseconds liveInterval,
                           QObject* parent)
    : QObject(parent)
    , app_(app)
    , file_(std::move(file))
    , queue_("history reader") {
    live_.setInterval(liveInterval);
    QObject::connect(&live_, &QTimer::timeout, this, [this] { refresh(false); });
}

HistoryModel::~HistoryModel() = default;

void HistoryModel::setSpan(RecentSpan span) {
    if (span == span_) {
        return;
    }
    span_ = span;
    ++generation_;
    emit spanChanged();
    refresh(true);
}

void HistoryModel::setActive(bool active) {
    if (active == active_) {
        return;
    }
    active_ = active;
    if (active_) {
        live_.start();
        refresh(true);
    } else {
        live_.stop();
    }
}

void HistoryModel::refresh(bool force) {
    if (reading_) {
        again_ = again_ || force;
        return;
    }
    readLoop();
}

HistoryModel::Request HistoryModel::nextRequest() const {
    Request request{std::nullopt, span_, std::chrono::floor<std::chrono::seconds>(app_.now()), shown_.bucket, {}};
    if (const auto& connected = app_.connected()) {
        request.board = HistoryBoard{connected->id, connected->serial};
    } else {
        // The board shown stays until another is connected.
        request.board = shown_.board;
    }
    // The same board and span: only the last two points are read again (the last may have been partial, and a
    // sample may still have been on its way into the one before), the rest is kept.
    if (request.board && request.board == shown_.board && shownSpan_ == span_ && !shown_.points.empty()) {
        const auto tail = shown_.points.back().time - shown_.bucket;
        if (tail >= request.now - lengthOf(span_)) {
            request.tailFrom = tail;
        }
    }
    return request;
}

QCoro::Task<> HistoryModel::readLoop() {
    reading_ = true;
    do {
        again_ = false;
        const auto generation = generation_;
        const auto request = nextRequest();
        auto reading = MainThread::onQueue(this, queue_, [this, request] { return perform(request); });
        std::optional<Result> result;
        std::optional<std::string> failure;
        try {
            result = co_await reading;
        } catch (const std::exception& error) {
            failure = messageOf(error);
        }
        if (generation != generation_) {
            again_ = true;
            continue;
        }
        if (failure) {
            setProblem(QStringLiteral("历史记录无法读取：") + QString::fromStdString(*failure));
        } else {
            setProblem(std::nullopt);
            apply(std::move(*result), request);
        }
    } while (again_);
    reading_ = false;
}

HistoryStore& HistoryModel::store() {
    // Another process may have set a damaged file aside and begun a new one: the path no longer names ours.
    const auto identity = HistoryFile::identityOf(file_);
    if (!store_ || !identity || identity != store_->identity()) {
        store_.reset();
        store_ = std::make_unique<HistoryStore>(file_);
    }
    return *store_;
}

HistoryModel::Result HistoryModel::perform(const Request& request) {
    try {
        auto& history = store();
        if (!request.tailFrom) {
            return {history.recent(request.span, request.board, request.now), std::nullopt};
        }
        Result result{history.span(*request.board, *request.tailFrom, request.now, request.bucket), request.tailFrom};
        result.data.events = history.events(*request.board, request.now - lengthOf(request.span), request.now);
        return result;
    } catch (...) {
        // Opened again on the next read, which may find the file repaired or replaced.
        store_.reset();
        throw;
    }
}

void HistoryModel::apply(Result result, const Request& request) {
    if (!result.tailFrom) {
        shown_ = std::move(result.data);
    } else {
        const auto from = request.now - lengthOf(request.span);
        const auto tailFrom = *result.tailFrom;
        auto& points = shown_.points;
        std::erase_if(points, [&](const HistoryPoint& point) {
            return point.time >= tailFrom || point.time + shown_.bucket <= from;
        });
        points.insert(points.end(), result.data.points.begin(), result.data.points.end());
        // Outages that ended before the tail stay as read; the tail's reading has every other one whole.
        std::erase_if(shown_.outages, [&](const Outage& outage) {
            return !outage.end || *outage.end >= tailFrom || *outage.end < from;
        });
        shown_.outages.insert(shown_.outages.end(), result.data.outages.begin(), result.data.outages.end());
        shown_.events = std::move(result.data.events);
    }
    shownSpan_ = request.span;
    shownTo_ = request.now;
    ++reads_;
    emit shownChanged();
}

void HistoryModel::setProblem(std::optional<QString> problem) {
    if (problem == problem_) {
        return;
    }
    if (problem) {
        app_.log(*problem);
    }
    problem_ = std::move(problem);
    emit problemChanged();
}

QCoro::Task<> HistoryModel::exportCSV() {
    if (!shown_.board) {
        co_return;
    }
    const auto board = *shown_.board;
    const auto from = shownFrom();
    const auto to = shownTo();
    const QPointer<HistoryModel> self(this);
    const auto destination = app_.dialogs().chooseSaveLocation("Quelmar-history.csv");
    if (!self || !destination) {
        co_return;
    }
    auto writing = MainThread::onQueue(this, queue_, [this, board, from, to, file = *destination] {
        const auto csv = historyCSV(store().samples(board, from, to));
        // A file that is replaced keeps its permissions, as the log's export does.
        Files::writeAtomically(file, csv, Files::modeOr(file, 0644));
    });
    std::optional<std::string> failure;
    try {
        co_await writing;
    } catch (const std::exception& error) {
        failure = messageOf(error);
    }
    if (failure) {
        const auto text = QString::fromStdString(*failure);
        app_.log(text);
        app_.setErrorMessage(text);
    }
}

} // namespace quelmar

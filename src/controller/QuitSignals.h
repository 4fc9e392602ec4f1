#pragma once

#include <QObject>

class QSocketNotifier;

namespace quelmar {

// SIGTERM, SIGINT and SIGHUP, received on the Qt main thread as a signal of this object instead of ending the
// process wherever it is. One instance at a time; its destructor restores the default dispositions.
class QuitSignals final : public QObject {
    Q_OBJECT

public:
    explicit QuitSignals(QObject* parent = nullptr);
    ~QuitSignals() override;

signals:
    // The name of the signal, for example "SIGTERM".
    void received(const QString& name);

private:
    void drain();

    int pipe_[2] = {-1, -1};
    QSocketNotifier* notifier_ = nullptr;
};

} // namespace quelmar

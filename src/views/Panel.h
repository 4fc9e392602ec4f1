#pragma once

#include <QFrame>
#include <QString>

class QVBoxLayout;

namespace quelmar {

// A grouped box: a rounded panel a shade apart from the window, with an optional header of a symbol and a title.
class Panel final : public QFrame {
public:
    explicit Panel(const QString& title = {}, const QString& symbol = {}, QWidget* parent = nullptr);
    // The panel's content goes here.
    QVBoxLayout* body() const { return body_; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QVBoxLayout* body_;
};

// A thin line across, in the panel edge colour.
class Divider final : public QWidget {
public:
    explicit Divider(QWidget* parent = nullptr);

protected:
    void paintEvent(QPaintEvent* event) override;
};

} // namespace quelmar

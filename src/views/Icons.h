#pragma once

#include "views/Theme.h"

#include <QIcon>
#include <QString>
#include <QWidget>

// The symbols the window shows and the application icon, drawn by the project as SVG in its resources.
namespace quelmar::Icons {

// A one-colour symbol tinted with the tone, following the palette when it is painted; disabled symbols are grey.
QIcon symbol(const QString& name, Theme::Tone tone = Theme::Tone::primary);
// The application icon; the "battery.100.bolt" symbol when the resource cannot be read.
QIcon application();

// Shows an icon at a fixed size.
class IconView final : public QWidget {
public:
    IconView(const QIcon& icon, int size, QWidget* parent = nullptr);
    void setIcon(const QIcon& icon);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QIcon icon_;
};

} // namespace quelmar::Icons

#pragma once

#include <QColor>
#include <QFont>

class QLabel;
class QPalette;
class QPushButton;
class QWidget;

// Colours and type sizes of the window. Colours follow the application's palette, light or dark.
namespace quelmar::Theme {

// link: the palette's link colour, or a readable one where it is lost on the background.
enum class Tone { primary, secondary, tertiary, mint, orange, link };

bool isDark(const QPalette& palette);
// The tone for text and symbols on the window background of this palette.
QColor colour(Tone tone, const QPalette& palette);
// The application palette's.
QColor colour(Tone tone);
// Behind the "Update" badge's black text, in either palette.
QColor badgeBackground();
// The sidebar's background, a shade apart from the detail column's.
QColor sidebarBackground(const QPalette& palette);
// Fill and edge of the grouped panels.
QColor panelFill(const QPalette& palette);
QColor panelEdge(const QPalette& palette);

// Gives the widget's text this tone, now and whenever the palette changes (see refresh).
void setTone(QWidget* widget, Tone tone);
// Gives the button the palette's accent colour, for the action a page leads to; disabled it looks as any other.
void setProminent(QPushButton* button);
// Applies the tones and accents again under widget, after a palette change.
void refresh(QWidget* widget);

// Type sizes in logical pixels, scaled with the application's font.
enum class Style { largeTitle, title2, title3, headline, body, subheadline, callout, caption, caption2 };
QFont font(Style style);
// Monospaced, for values whose digits should stay in place.
QFont monospaced(double pixels);
// The application font scaled from its usual 13 pixels.
double scaled(double pixels);
void setFont(QWidget* widget, Style style);
// A label in this style and tone; secondary texts wrap.
QLabel* label(const QString& text, Style style, Tone tone = Tone::primary);

} // namespace quelmar::Theme

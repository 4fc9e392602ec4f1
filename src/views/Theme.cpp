#include "views/Theme.h"

#include <algorithm>
#include <cmath>

#include <QAbstractButton>
#include <QApplication>
#include <QFontDatabase>
#include <QFontInfo>
#include <QLabel>
#include <QPalette>
#include <QPushButton>
#include <QVariant>
#include <QWidget>

namespace quelmar::Theme {

namespace {

const char* const toneProperty = "quelmarTone";
const char* const prominentProperty = "quelmarProminent";

QColor mix(const QColor& a, const QColor& b, double share) {
    return QColor::fromRgbF(static_cast<float>(a.redF() * (1 - share) + b.redF() * share),
                            static_cast<float>(a.greenF() * (1 - share) + b.greenF() * share),
                            static_cast<float>(a.blueF() * (1 - share) + b.blueF() * share));
}

// The contrast ratio of two colours, from 1 (none) to 21 (black on white), as the web's accessibility rules count it.
double contrast(const QColor& a, const QColor& b) {
    const auto luminance = [](const QColor& c) {
        const auto linear = [](double v) { return v <= 0.04045 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4); };
        return 0.2126 * linear(c.redF()) + 0.7152 * linear(c.greenF()) + 0.0722 * linear(c.blueF());
    };
    const double first = luminance(a);
    const double second = luminance(b);
    return (std::max(first, second) + 0.05) / (std::min(first, second) + 0.05);
}

void apply(QWidget* widget, Tone tone) {
    const auto wanted = colour(tone);
    if (widget->palette().color(QPalette::Active, QPalette::WindowText) == wanted) {
        return;
    }
    // Only the text roles are set; the rest follows the parent. Disabled text keeps the palette's own grey.
    QPalette palette;
    for (const auto group : {QPalette::Active, QPalette::Inactive}) {
        palette.setColor(group, QPalette::WindowText, wanted);
        palette.setColor(group, QPalette::Text, wanted);
    }
    widget->setPalette(palette);
}

// A disabled button's text on a dark palette is often lost on the button (thin strokes, anti-aliased, come out
// darker still); it stays dimmer than an enabled one's but readable.
void applyDisabled(QAbstractButton* button) {
    const auto app = QApplication::palette();
    const auto face = app.color(QPalette::Disabled, QPalette::Button);
    auto text = app.color(QPalette::Disabled, QPalette::ButtonText);
    const auto strong = app.color(QPalette::Active, QPalette::ButtonText);
    for (double share = 0.1; isDark(app) && contrast(text, face) < 4.5 && share <= 1.0; share += 0.1) {
        text = mix(app.color(QPalette::Disabled, QPalette::ButtonText), strong, share);
    }
    if (button->palette().color(QPalette::Disabled, QPalette::ButtonText) != text) {
        auto palette = button->palette();
        palette.setColor(QPalette::Disabled, QPalette::ButtonText, text);
        button->setPalette(palette);
    }
}

void applyProminent(QPushButton* button) {
    const auto app = QApplication::palette();
    if (button->palette().color(QPalette::Active, QPalette::Button) ==
        app.color(QPalette::Active, QPalette::Highlight)) {
        return;
    }
    QPalette palette;
    for (const auto group : {QPalette::Active, QPalette::Inactive}) {
        palette.setColor(group, QPalette::Button, app.color(group, QPalette::Highlight));
        palette.setColor(group, QPalette::ButtonText, app.color(group, QPalette::HighlightedText));
    }
    button->setPalette(palette);
}

} // namespace

bool isDark(const QPalette& palette) {
    return palette.color(QPalette::Window).lightness() < 128;
}

QColor colour(Tone tone, const QPalette& palette) {
    const bool dark = isDark(palette);
    const auto text = palette.color(QPalette::Active, QPalette::WindowText);
    const auto window = palette.color(QPalette::Active, QPalette::Window);
    switch (tone) {
    case Tone::primary:
        return text;
    case Tone::secondary:
        return mix(text, window, dark ? 0.35 : 0.45);
    case Tone::tertiary:
        return mix(text, window, dark ? 0.52 : 0.58);
    case Tone::mint:
        // Darker on light backgrounds so that mint text stays readable.
        return dark ? QColor(0x63, 0xe6, 0xd0) : QColor(0x00, 0x85, 0x78);
    case Tone::orange:
        return dark ? QColor(0xff, 0xa6, 0x4d) : QColor(0xc4, 0x5a, 0x00);
    case Tone::link: {
        // The palette's own link colour, unless it is lost on this background (a dark palette that keeps the
        // light one's blue).
        const auto link = palette.color(QPalette::Active, QPalette::Link);
        if (contrast(link, window) >= 3) {
            return link;
        }
        return dark ? QColor(0x6c, 0xb8, 0xff) : QColor(0x1a, 0x5f, 0xb4);
    }
    }
    return text;
}

QColor colour(Tone tone) {
    return colour(tone, QApplication::palette());
}

QColor badgeBackground() {
    return QColor(0x4c, 0xdd, 0xc6);
}

QColor sidebarBackground(const QPalette& palette) {
    const auto window = palette.color(QPalette::Window);
    return isDark(palette) ? window.darker(125) : window.darker(106);
}

QColor panelFill(const QPalette& palette) {
    const auto window = palette.color(QPalette::Window);
    return isDark(palette) ? window.lighter(125) : mix(window, palette.color(QPalette::Base), 0.6);
}

QColor panelEdge(const QPalette& palette) {
    return mix(palette.color(QPalette::Window), palette.color(QPalette::WindowText), isDark(palette) ? 0.2 : 0.14);
}

void setTone(QWidget* widget, Tone tone) {
    widget->setProperty(toneProperty, static_cast<int>(tone));
    apply(widget, tone);
}

void setProminent(QPushButton* button) {
    button->setProperty(prominentProperty, true);
    auto font = button->font();
    font.setBold(true);
    button->setFont(font);
    applyProminent(button);
}

void refresh(QWidget* widget) {
    for (auto* child : widget->findChildren<QWidget*>()) {
        const auto tone = child->property(toneProperty);
        if (tone.isValid()) {
            apply(child, static_cast<Tone>(tone.toInt()));
        }
        if (auto* button = qobject_cast<QPushButton*>(child); button && button->property(prominentProperty).isValid()) {
            applyProminent(button);
        }
        if (auto* button = qobject_cast<QAbstractButton*>(child)) {
            applyDisabled(button);
        }
    }
}

double scaled(double pixels) {
    const QFontInfo info(QApplication::font());
    return pixels * info.pixelSize() / 13.0;
}

QFont font(Style style) {
    struct Size {
        double pixels;
        QFont::Weight weight;
    };
    const Size size = [style]() -> Size {
        switch (style) {
        case Style::largeTitle:
            return {26, QFont::Bold};
        case Style::title2:
            return {19, QFont::Bold};
        case Style::title3:
            return {16, QFont::Bold};
        case Style::headline:
            return {14, QFont::Bold};
        case Style::body:
            return {13, QFont::Normal};
        case Style::subheadline:
            return {12.5, QFont::Normal};
        case Style::callout:
            return {12.5, QFont::Normal};
        case Style::caption:
            return {11.5, QFont::Normal};
        case Style::caption2:
            return {10.5, QFont::Normal};
        }
        return {13, QFont::Normal};
    }();
    auto result = QApplication::font();
    result.setPixelSize(qRound(scaled(size.pixels)));
    result.setWeight(size.weight);
    return result;
}

QFont monospaced(double pixels) {
    auto result = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    result.setPixelSize(qRound(scaled(pixels)));
    return result;
}

void setFont(QWidget* widget, Style style) {
    widget->setFont(font(style));
}

QLabel* label(const QString& text, Style style, Tone tone) {
    auto* result = new QLabel(text);
    result->setFont(font(style));
    if (tone != Tone::primary) {
        setTone(result, tone);
    }
    result->setWordWrap(tone == Tone::secondary);
    return result;
}

} // namespace quelmar::Theme

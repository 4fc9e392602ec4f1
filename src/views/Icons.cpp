#include "views/Icons.h"

#include <QApplication>
#include <QIconEngine>
#include <QImage>
#include <QPainter>
#include <QPixmapCache>
#include <QSvgRenderer>

// Outside any namespace, as Qt requires; the icons live in a static library.
static void initialiseResources() {
    Q_INIT_RESOURCE(icons);
}

namespace quelmar::Icons {

namespace {

QString fileOf(const QString& name) {
    static const bool initialised = (initialiseResources(), true);
    (void)initialised;
    return QStringLiteral(":/icons/%1.svg").arg(name);
}

QImage render(QSvgRenderer& renderer, QSize pixels) {
    QImage image(pixels, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    // Keep the drawing's proportions inside the square.
    auto bounds = QRectF(QPointF(0, 0), renderer.defaultSize().scaled(pixels, Qt::KeepAspectRatio));
    bounds.moveCenter(QRectF(QPointF(0, 0), pixels).center());
    renderer.render(&painter, bounds);
    return image;
}

// Renders the SVG at the size asked for, tinted with the tone's colour of the current palette.
class SymbolEngine final : public QIconEngine {
public:
    SymbolEngine(QString file, std::optional<Theme::Tone> tone)
        : file_(std::move(file))
        , tone_(tone) {}

    void paint(QPainter* painter, const QRect& rect, QIcon::Mode mode, QIcon::State state) override {
        const qreal ratio = painter->device() ? painter->device()->devicePixelRatioF() : 1.0;
        auto image = scaledPixmap(rect.size(), mode, state, ratio);
        painter->drawPixmap(rect, image);
    }

    QPixmap pixmap(const QSize& size, QIcon::Mode mode, QIcon::State state) override {
        return scaledPixmap(size, mode, state, 1.0);
    }

    QPixmap scaledPixmap(const QSize& size, QIcon::Mode mode, QIcon::State, qreal scale) override {
        const QSize pixels = size * scale;
        const auto tint = colour(mode);
        const auto key = QStringLiteral("quelmar:%1:%2x%3:%4:%5")
                             .arg(file_)
                             .arg(pixels.width())
                             .arg(pixels.height())
                             .arg(tint ? tint->rgba() : 0u)
                             .arg(mode == QIcon::Disabled);
        QPixmap cached;
        if (!QPixmapCache::find(key, &cached)) {
            QSvgRenderer renderer(file_);
            auto image = render(renderer, pixels);
            if (tint) {
                QPainter painter(&image);
                painter.setCompositionMode(QPainter::CompositionMode_SourceIn);
                painter.fillRect(image.rect(), *tint);
            } else if (mode == QIcon::Disabled) {
                image = image.convertToFormat(QImage::Format_Grayscale8).convertToFormat(QImage::Format_ARGB32);
            }
            cached = QPixmap::fromImage(image);
            QPixmapCache::insert(key, cached);
        }
        cached.setDevicePixelRatio(scale);
        return cached;
    }

    QSize actualSize(const QSize& size, QIcon::Mode, QIcon::State) override { return size; }
    QIconEngine* clone() const override { return new SymbolEngine(file_, tone_); }
    QString key() const override { return QStringLiteral("quelmar.symbol"); }

private:
    std::optional<QColor> colour(QIcon::Mode mode) const {
        if (!tone_) {
            return std::nullopt;
        }
        if (mode == QIcon::Disabled) {
            return QApplication::palette().color(QPalette::Disabled, QPalette::WindowText);
        }
        if (mode == QIcon::Selected) {
            return QApplication::palette().color(QPalette::HighlightedText);
        }
        return Theme::colour(*tone_);
    }

    QString file_;
    std::optional<Theme::Tone> tone_; // none: drawn in its own colours
};

} // namespace

QIcon symbol(const QString& name, Theme::Tone tone) {
    return QIcon(new SymbolEngine(fileOf(name), tone));
}

QIcon application() {
    const auto file = fileOf(QStringLiteral("app_icon"));
    if (!QSvgRenderer(file).isValid()) {
        return symbol(QStringLiteral("battery.100.bolt"));
    }
    return QIcon(new SymbolEngine(file, std::nullopt));
}

IconView::IconView(const QIcon& icon, int size, QWidget* parent)
    : QWidget(parent)
    , icon_(icon) {
    setFixedSize(size, size);
}

void IconView::setIcon(const QIcon& icon) {
    icon_ = icon;
    update();
}

void IconView::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    icon_.paint(&painter, rect(), Qt::AlignCenter, isEnabled() ? QIcon::Normal : QIcon::Disabled);
}

} // namespace quelmar::Icons

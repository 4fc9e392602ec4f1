#include "views/UpdatesPage.h"

#include "controller/AppModel.h"
#include "views/Display.h"
#include "views/Icons.h"
#include "views/Panel.h"
#include "views/Theme.h"

#include <QDesktopServices>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QUrl>
#include <QVBoxLayout>

namespace quelmar {

UpdatesPage::UpdatesPage(AppModel& model, QWidget* parent)
    : QWidget(parent)
    , model_(model) {
    auto* page = new QVBoxLayout(this);
    page->setContentsMargins(0, 0, 0, 0);
    page->setSpacing(14);

    auto* box = new Panel;
    box->body()->setSpacing(12);
    box->body()->setContentsMargins(4, 4, 4, 4);
    auto* name = new QLabel(QStringLiteral("Quelmar for Linux"));
    name->setFont(Theme::font(Theme::Style::title2));
    box->body()->addWidget(name);
    box->body()->addWidget(
        Theme::label(Display::platformEdition(model_.version()), Theme::Style::body, Theme::Tone::secondary));
    auto* statusRow = new QHBoxLayout;
    statusRow->setSpacing(8);
    statusIcon_ = new Icons::IconView(QIcon(), 18);
    status_ = new QLabel;
    statusRow->addWidget(statusIcon_);
    statusRow->addWidget(status_, 1);
    box->body()->addLayout(statusRow);
    // Said once after the installer restored this client: why the update did not stay.
    notice_ = Theme::label(QString(), Theme::Style::callout, Theme::Tone::orange);
    notice_->setWordWrap(true);
    notice_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    box->body()->addWidget(notice_);
    notes_ = Theme::label(QString(), Theme::Style::callout, Theme::Tone::secondary);
    box->body()->addWidget(notes_);
    auto* buttons = new QHBoxLayout;
    buttons->setSpacing(10);
    check_ = new QPushButton;
    install_ = new QPushButton(QStringLiteral("下载并更新"));
    Theme::setProminent(install_);
    buttons->addWidget(check_);
    buttons->addWidget(install_);
    buttons->addStretch();
    box->body()->addLayout(buttons);
    page->addWidget(box);

    page->addWidget(Theme::label(QStringLiteral("每次打开时自动检查，运行期间每 6 小时检查一次。有新版时左上角显示 "
                                                "Update；安装前需要确认。"),
                                 Theme::Style::body, Theme::Tone::secondary));
    page->addWidget(
        Theme::label(QStringLiteral("更新包经过签名和完整性验证。安装时保留旧版，新版窗口未能启动时尝试恢复。"),
                     Theme::Style::callout, Theme::Tone::secondary));
    // A button drawn as a link: it takes the keyboard focus and offers assistive technology its press action, which a
    // label's anchor does not.
    link_ = new QPushButton(QStringLiteral("Quelmar 开源项目"));
    link_->setFlat(true);
    link_->setCursor(Qt::PointingHandCursor);
    link_->setToolTip(QLatin1String(sourceAddress));
    link_->setAccessibleDescription(QLatin1String(sourceAddress));
    auto underlined = link_->font();
    underlined.setUnderline(true);
    link_->setFont(underlined);
    link_->setStyleSheet(QStringLiteral("QPushButton { border: none; padding: 0; text-align: left; }"));
    showLink();
    page->addWidget(link_, 0, Qt::AlignLeft);

    QObject::connect(link_, &QPushButton::clicked, this,
                     [] { QDesktopServices::openUrl(QUrl(QLatin1String(sourceAddress))); });
    QObject::connect(check_, &QPushButton::clicked, this, [this] { model_.checkUpdates(true); });
    QObject::connect(install_, &QPushButton::clicked, this, [this] { model_.updateClicked(); });
    for (const auto signal : {&AppModel::operationChanged, &AppModel::checkingChanged, &AppModel::updateChanged,
                              &AppModel::updateTextChanged, &AppModel::installNoticeChanged}) {
        QObject::connect(&model_, signal, this, &UpdatesPage::showState);
    }
    showState();
}

void UpdatesPage::changeEvent(QEvent* event) {
    QWidget::changeEvent(event);
    if (event->type() == QEvent::PaletteChange || event->type() == QEvent::ApplicationPaletteChange) {
        showLink();
    }
}

// The palette's link colour, or a readable one where it is lost on the background.
void UpdatesPage::showLink() {
    auto palette = link_->palette();
    palette.setColor(QPalette::ButtonText, Theme::colour(Theme::Tone::link));
    link_->setPalette(palette);
}

void UpdatesPage::showState() {
    const auto& update = model_.update();
    const bool busy = model_.operation().has_value();
    statusIcon_->setIcon(
        Icons::symbol(Display::updateSymbol(update), update ? Theme::Tone::mint : Theme::Tone::primary));
    status_->setText(model_.updateText());
    notice_->setText(model_.installNotice().value_or(QString()));
    notice_->setVisible(model_.installNotice().has_value());
    notes_->setVisible(update.has_value());
    notes_->setText(update ? QString::fromStdString(update->notes.value_or(std::string())) : QString());
    check_->setText(Display::checkButton(model_.checking()));
    check_->setEnabled(!model_.checking() && !busy);
    install_->setVisible(update.has_value());
    install_->setEnabled(!busy);
}

} // namespace quelmar

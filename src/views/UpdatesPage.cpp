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
    link_ = new QLabel;
    link_->setTextFormat(Qt::RichText);
    link_->setTextInteractionFlags(Qt::LinksAccessibleByMouse | Qt::LinksAccessibleByKeyboard);
    link_->setToolTip(QLatin1String(sourceAddress));
    showLink();
    page->addWidget(link_);

    QObject::connect(link_, &QLabel::linkActivated, this,
                     [](const QString& address) { QDesktopServices::openUrl(QUrl(address)); });
    QObject::connect(check_, &QPushButton::clicked, this, [this] { model_.checkUpdates(true); });
    QObject::connect(install_, &QPushButton::clicked, this, [this] { model_.updateClicked(); });
    for (const auto signal : {&AppModel::operationChanged, &AppModel::checkingChanged, &AppModel::updateChanged,
                              &AppModel::updateTextChanged}) {
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

// A label's anchors take the application's link colour, not the label's: the colour goes into the text.
void UpdatesPage::showLink() {
    link_->setText(QStringLiteral("<a href=\"%1\" style=\"color: %2\">Quelmar 开源项目</a>")
                       .arg(QLatin1String(sourceAddress), Theme::colour(Theme::Tone::link).name()));
}

void UpdatesPage::showState() {
    const auto& update = model_.update();
    const bool busy = model_.operation().has_value();
    statusIcon_->setIcon(
        Icons::symbol(Display::updateSymbol(update), update ? Theme::Tone::mint : Theme::Tone::primary));
    status_->setText(model_.updateText());
    notes_->setVisible(update.has_value());
    notes_->setText(update ? QString::fromStdString(update->notes.value_or(std::string())) : QString());
    check_->setText(Display::checkButton(model_.checking()));
    check_->setEnabled(!model_.checking() && !busy);
    install_->setVisible(update.has_value());
    install_->setEnabled(!busy);
}

} // namespace quelmar

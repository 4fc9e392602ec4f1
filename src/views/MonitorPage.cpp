#include "views/MonitorPage.h"

#include "controller/AppModel.h"
#include "views/Display.h"
#include "views/Icons.h"
#include "views/Panel.h"
#include "views/Theme.h"

#include <QComboBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace quelmar {

namespace {

QLabel* caption(const QString& text) {
    return Theme::label(text, Theme::Style::caption, Theme::Tone::secondary);
}

// A caption above a control.
QVBoxLayout* captioned(const QString& text, QWidget* control) {
    auto* column = new QVBoxLayout;
    column->setSpacing(5);
    column->addWidget(caption(text));
    column->addWidget(control);
    return column;
}

} // namespace

MonitorPage::MonitorPage(AppModel& model, QWidget* parent)
    : QWidget(parent)
    , model_(model) {
    auto* page = new QVBoxLayout(this);
    page->setContentsMargins(0, 0, 0, 0);
    page->setSpacing(14);

    auto* summary = new Panel;
    auto* summaryRow = new QHBoxLayout;
    summaryRow->setSpacing(24);
    summaryRow->addWidget(
        new Icons::IconView(Icons::symbol(QStringLiteral("battery.100.bolt"), Theme::Tone::mint), 40));
    auto* chargeColumn = new QVBoxLayout;
    chargeColumn->setSpacing(0);
    charge_ = new QLabel;
    auto chargeFont = Theme::font(Theme::Style::body);
    chargeFont.setPixelSize(qRound(Theme::scaled(42)));
    chargeFont.setWeight(QFont::DemiBold);
    charge_->setFont(chargeFont);
    chargeColumn->addWidget(charge_);
    chargeColumn->addWidget(caption(QStringLiteral("电池电量")));
    summaryRow->addLayout(chargeColumn);
    auto* powerColumn = new QVBoxLayout;
    powerColumn->setSpacing(8);
    powerSource_ = new QLabel;
    powerSource_->setFont(Theme::font(Theme::Style::headline));
    runtime_ = new QLabel;
    runtime_->setFont(Theme::font(Theme::Style::subheadline));
    powerColumn->addStretch();
    powerColumn->addWidget(powerSource_);
    powerColumn->addWidget(runtime_);
    powerColumn->addStretch();
    summaryRow->addLayout(powerColumn, 1);
    summary->body()->addLayout(summaryRow);
    page->addWidget(summary);

    auto* cards = new QHBoxLayout;
    cards->setSpacing(12);
    auto* battery = card(QStringLiteral("电池"), QStringLiteral("battery.100"));
    addMetric(battery, QStringLiteral("电压"), &Snapshot::batteryVoltage, QStringLiteral("V"), 2);
    addMetric(battery, QStringLiteral("电流"), &Snapshot::batteryCurrent, QStringLiteral("A"), 2);
    addMetric(battery, QStringLiteral("功率"), &Snapshot::batteryPower, QStringLiteral("W"), 2);
    addMetric(battery, QStringLiteral("板温"), &Snapshot::temperature, QStringLiteral("°C"), 1);
    auto* input = card(QStringLiteral("输入"), QStringLiteral("powerplug"));
    addMetric(input, QStringLiteral("电压"), &Snapshot::inputVoltage, QStringLiteral("V"), 2);
    addMetric(input, QStringLiteral("电流"), &Snapshot::inputCurrent, QStringLiteral("A"), 2);
    addMetric(
        input, QStringLiteral("功率"),
        [](const Snapshot& s) { return Display::product(s.inputVoltage, s.inputCurrent); }, QStringLiteral("W"), 2);
    auto* output = card(QStringLiteral("输出"), QStringLiteral("bolt"));
    addMetric(
        output, QStringLiteral("负载"),
        [](const Snapshot& s) { return s.load ? std::optional<double>(static_cast<double>(*s.load)) : std::nullopt; },
        QStringLiteral("%"), 0);
    addMetric(output, QStringLiteral("5V 电压"), &Snapshot::output5Voltage, QStringLiteral("V"), 2);
    addMetric(output, QStringLiteral("5V 电流"), &Snapshot::output5Current, QStringLiteral("A"), 2);
    addMetric(
        output, QStringLiteral("5V 功率"),
        [](const Snapshot& s) { return Display::product(s.output5Voltage, s.output5Current); }, QStringLiteral("W"), 2);
    output->body()->addWidget(new Divider);
    addMetric(output, QStringLiteral("12V 电压"), &Snapshot::output12Voltage, QStringLiteral("V"), 2);
    addMetric(output, QStringLiteral("12V 电流"), &Snapshot::output12Current, QStringLiteral("A"), 2);
    addMetric(
        output, QStringLiteral("12V 功率"),
        [](const Snapshot& s) { return Display::product(s.output12Voltage, s.output12Current); }, QStringLiteral("W"),
        2);
    for (auto* each : {battery, input, output}) {
        each->body()->addStretch();
        cards->addWidget(each, 1);
    }
    page->addLayout(cards);

    status_ = new QLabel;
    status_->setFont(Theme::font(Theme::Style::callout));
    status_->setWordWrap(true);
    page->addWidget(status_);

    page->addWidget(parameterForm());

    hint_ = caption(QStringLiteral("接入 USB 后自动读取数据；多台设备时请先选择目标。"));
    page->addWidget(hint_);

    QObject::connect(&model_, &AppModel::snapshotChanged, this, &MonitorPage::showSnapshot);
    QObject::connect(&model_, &AppModel::connectedChanged, this, &MonitorPage::showSnapshot);
    QObject::connect(&model_, &AppModel::capacityChanged, this, &MonitorPage::showForm);
    QObject::connect(&model_, &AppModel::resistanceChanged, this, &MonitorPage::showForm);
    QObject::connect(&model_, &AppModel::nominalChanged, this, &MonitorPage::showForm);
    QObject::connect(&model_, &AppModel::canConfigureChanged, this, &MonitorPage::showForm);
    showSnapshot();
    showForm();
}

Panel* MonitorPage::card(const QString& title, const QString& symbol) {
    auto* panel = new Panel(title, symbol);
    panel->setAccessibleName(title);
    panel->body()->setSpacing(10);
    panel->setMinimumWidth(150);
    return panel;
}

void MonitorPage::addMetric(Panel* card, const QString& label,
                            std::function<std::optional<double>(const Snapshot&)> field, const QString& unit,
                            int precision) {
    auto* row = new QHBoxLayout;
    row->setSpacing(8);
    auto* name = new QLabel(label);
    Theme::setTone(name, Theme::Tone::secondary);
    auto* value = new QLabel;
    value->setFont(Theme::monospaced(13));
    value->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    row->addWidget(name);
    row->addStretch();
    row->addWidget(value);
    card->body()->addLayout(row);
    metrics_.push_back({value, card->accessibleName(), label, std::move(field), unit, precision});
}

QWidget* MonitorPage::parameterForm() {
    auto* panel = new Panel(QStringLiteral("电池参数"));
    form_ = panel;
    auto* row = new QHBoxLayout;
    row->setSpacing(12);
    capacity_ = new QLineEdit;
    resistance_ = new QLineEdit;
    for (auto* field : {capacity_, resistance_}) {
        field->setPlaceholderText(QStringLiteral("—"));
        field->setMinimumWidth(90);
    }
    capacity_->setAccessibleName(QStringLiteral("容量 · mAh"));
    resistance_->setAccessibleName(QStringLiteral("内阻 · mΩ"));
    row->addLayout(captioned(QStringLiteral("容量 · mAh"), capacity_), 1);
    row->addLayout(captioned(QStringLiteral("内阻 · mΩ"), resistance_), 1);
    nominal_ = new QComboBox;
    nominal_->setAccessibleName(QStringLiteral("标称电压"));
    nominal_->addItem(QStringLiteral("3.6 V"), 0);
    nominal_->addItem(QStringLiteral("3.65 V"), 1);
    nominal_->addItem(QStringLiteral("3.7 V"), 2);
    nominal_->setFixedWidth(115);
    row->addLayout(captioned(QStringLiteral("单节标称电压"), nominal_));
    write_ = new QPushButton(QStringLiteral("写入设备"));
    row->addWidget(write_, 0, Qt::AlignBottom);
    panel->body()->addLayout(row);

    QObject::connect(capacity_, &QLineEdit::textEdited, &model_, &AppModel::setCapacity);
    QObject::connect(resistance_, &QLineEdit::textEdited, &model_, &AppModel::setResistance);
    QObject::connect(nominal_, &QComboBox::activated, this,
                     [this](int index) { model_.setNominal(nominal_->itemData(index).toLongLong()); });
    QObject::connect(write_, &QPushButton::clicked, this, [this] { model_.writeConfig(); });
    return panel;
}

void MonitorPage::showSnapshot() {
    const auto& snapshot = model_.snapshot();
    charge_->setText(Display::charge(snapshot));
    powerSource_->setText(Display::powerSource(snapshot, model_.connected()));
    runtime_->setText(Display::runtime(snapshot));
    charge_->setAccessibleName(QStringLiteral("电池电量：") + charge_->text());
    for (const auto& metric : metrics_) {
        const auto text =
            Display::metric(snapshot ? metric.field(*snapshot) : std::nullopt, metric.unit, metric.precision);
        metric.value->setText(text);
        // Read with its card and row, not as the row's name alone.
        metric.value->setAccessibleName(Display::metricName(metric.card, metric.row, text));
    }
    const auto status = Display::statusLine(snapshot);
    status_->setVisible(status.has_value());
    if (status) {
        status_->setText(status->text);
        Theme::setTone(status_, status->warning ? Theme::Tone::orange : Theme::Tone::secondary);
    }
    hint_->setVisible(!model_.connected());
}

void MonitorPage::showForm() {
    // Only a changed text is written back, so that typing keeps the cursor where it is.
    if (capacity_->text() != model_.capacity()) {
        capacity_->setText(model_.capacity());
    }
    if (resistance_->text() != model_.resistance()) {
        resistance_->setText(model_.resistance());
    }
    nominal_->setCurrentIndex(nominal_->findData(static_cast<int>(model_.nominal())));
    form_->setEnabled(model_.canConfigure());
}

} // namespace quelmar

#include "views/ConnectionBar.h"

#include "controller/AppModel.h"
#include "views/Display.h"
#include "views/Theme.h"

#include <QAbstractListModel>
#include <QComboBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QStringList>
#include <QVBoxLayout>

namespace quelmar {

// The picker's rows: "选择设备" with the empty id, then one row per board found.
class DeviceListModel final : public QAbstractListModel {
public:
    static constexpr int idRole = Qt::UserRole + 1;

    explicit DeviceListModel(const AppModel& model, QObject* parent)
        : QAbstractListModel(parent)
        , model_(model) {}

    void reload() {
        beginResetModel();
        endResetModel();
    }
    int rowOf(const QString& id) const {
        if (id.isEmpty()) {
            return 0;
        }
        const auto& devices = model_.devices();
        for (std::size_t i = 0; i < devices.size(); ++i) {
            if (QString::fromStdString(devices[i].id) == id) {
                return static_cast<int>(i) + 1;
            }
        }
        return -1;
    }

    int rowCount(const QModelIndex& parent = QModelIndex()) const override {
        return parent.isValid() ? 0 : static_cast<int>(model_.devices().size()) + 1;
    }
    QVariant data(const QModelIndex& index, int role) const override {
        if (!index.isValid() || index.row() >= rowCount()) {
            return {};
        }
        const auto row = index.row();
        if (role == Qt::DisplayRole) {
            return row == 0 ? QStringLiteral("选择设备")
                            : Display::deviceRow(model_.devices()[static_cast<std::size_t>(row - 1)]);
        }
        if (role == idRole) {
            return row == 0 ? QString()
                            : QString::fromStdString(model_.devices()[static_cast<std::size_t>(row - 1)].id);
        }
        return {};
    }

private:
    const AppModel& model_;
};

ConnectionBar::ConnectionBar(AppModel& model, QWidget* parent)
    : QWidget(parent)
    , model_(model) {
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(18, 18, 18, 18);
    row->setSpacing(12);

    auto* text = new QVBoxLayout;
    text->setSpacing(3);
    product_ = new QLabel;
    product_->setFont(Theme::font(Theme::Style::headline));
    detail_ = new QLabel;
    detail_->setFont(Theme::font(Theme::Style::caption));
    Theme::setTone(detail_, Theme::Tone::secondary);
    versions_ = new QLabel;
    versions_->setFont(Theme::monospaced(11.5));
    Theme::setTone(versions_, Theme::Tone::secondary);
    // The bar keeps its height when the versions line is absent, so that the page below does not jump.
    auto keep = versions_->sizePolicy();
    keep.setRetainSizeWhenHidden(true);
    versions_->setSizePolicy(keep);
    // What the platform says is wrong with board access, while it is so: not only in the log, which can be cleared.
    problem_ = new QLabel;
    problem_->setFont(Theme::font(Theme::Style::caption));
    problem_->setWordWrap(true);
    Theme::setTone(problem_, Theme::Tone::orange);
    for (auto* label : {product_, detail_, versions_, problem_}) {
        label->setTextInteractionFlags(Qt::TextSelectableByMouse);
        text->addWidget(label);
    }
    row->addLayout(text, 1);

    disconnect_ = new QPushButton(QStringLiteral("断开"));
    row->addWidget(disconnect_);

    picker_ = new QWidget;
    auto* pickerRow = new QHBoxLayout(picker_);
    pickerRow->setContentsMargins(0, 0, 0, 0);
    pickerRow->setSpacing(8);
    auto* pickerLabel = new QLabel(QStringLiteral("设备"));
    devices_ = new QComboBox;
    devices_->setAccessibleName(QStringLiteral("设备"));
    deviceList_ = new DeviceListModel(model_, devices_);
    devices_->setModel(deviceList_);
    devices_->setMaximumWidth(230);
    devices_->setMinimumWidth(150);
    devices_->setSizeAdjustPolicy(QComboBox::AdjustToContents);
    pickerLabel->setBuddy(devices_);
    connect_ = new QPushButton(QStringLiteral("连接"));
    pickerRow->addWidget(pickerLabel);
    pickerRow->addWidget(devices_);
    pickerRow->addWidget(connect_);
    row->addWidget(picker_);

    QObject::connect(disconnect_, &QPushButton::clicked, this, [this] { model_.disconnect(); });
    QObject::connect(connect_, &QPushButton::clicked, this, [this] { model_.connect(); });
    QObject::connect(devices_, &QComboBox::activated, this, [this](int index) {
        model_.setSelectedID(deviceList_->index(index).data(DeviceListModel::idRole).toString());
    });

    QObject::connect(&model_, &AppModel::connectedChanged, this, [this] {
        showConnection();
        showControls();
    });
    QObject::connect(&model_, &AppModel::connectionTextChanged, this, &ConnectionBar::showConnection);
    QObject::connect(&model_, &AppModel::infoChanged, this, &ConnectionBar::showConnection);
    QObject::connect(&model_, &AppModel::operationChanged, this, [this] {
        showConnection();
        showControls();
    });
    QObject::connect(&model_, &AppModel::accessDeniedChanged, this, &ConnectionBar::showConnection);
    QObject::connect(&model_, &AppModel::hidProblemChanged, this, &ConnectionBar::showConnection);
    QObject::connect(&model_, &AppModel::selectedIDChanged, this, &ConnectionBar::showSelection);
    QObject::connect(&model_, &AppModel::devicesChanged, this, [this] {
        deviceList_->reload();
        showSelection();
        showControls();
    });
    showConnection();
    showSelection();
    showControls();
}

void ConnectionBar::showConnection() {
    product_->setText(Display::productTitle(model_.connected()));
    detail_->setText(Display::connectionDetail(model_.connectionText(), model_.connected(), model_.operation()));
    const auto versions = Display::versions(model_.info());
    versions_->setText(versions.value_or(QString()));
    versions_->setVisible(versions.has_value());
    QStringList problems;
    if (model_.accessDenied()) {
        problems << Display::accessHint();
    }
    if (model_.hidProblem()) {
        problems << *model_.hidProblem();
    }
    problem_->setText(problems.join(QLatin1Char('\n')));
    problem_->setVisible(!problems.isEmpty());
}

void ConnectionBar::showControls() {
    const bool connected = model_.connected().has_value();
    const bool busy = model_.operation().has_value();
    disconnect_->setVisible(connected);
    disconnect_->setEnabled(!busy);
    picker_->setVisible(!connected && !model_.devices().empty());
    connect_->setEnabled(!busy && !model_.selectedID().isEmpty());
}

void ConnectionBar::showSelection() {
    devices_->setCurrentIndex(deviceList_->rowOf(model_.selectedID()));
    showControls();
}

} // namespace quelmar

#include "settings/zorControls.h"

#include <QButtonGroup>
#include <QColorDialog>
#include <QRadioButton>
#include <QVBoxLayout>

namespace vantorel {
namespace {

// The value name for a control's first Loaded(): NamedAs, or the object name when NamedAs
// is empty. "" on a later call, or when both names are empty (the control keeps nothing).
std::string FirstLoadName(bool& loaded, const QString& namedAs, const QObject& control) {
    if (loaded) {
        return {};
    }
    loaded = true;
    return (namedAs.isEmpty() ? control.objectName() : namedAs).toStdString();
}

std::optional<QColor> StandardChooser(const QColor& initial, QWidget* parent) {
    const QColor chosen = QColorDialog::getColor(initial, parent);
    if (!chosen.isValid()) {
        return std::nullopt;
    }
    return chosen;
}

} // namespace

QColor QColorFromWindowsColor(std::int32_t color) {
    const auto bits = static_cast<std::uint32_t>(color);
    return QColor(static_cast<int>(bits & 0xFFu), static_cast<int>((bits >> 8) & 0xFFu),
                  static_cast<int>((bits >> 16) & 0xFFu));
}

std::int32_t WindowsColorFromQColor(const QColor& color) {
    const QColor rgb = color.toRgb();
    const auto bits = static_cast<std::uint32_t>(rgb.red()) |
                      (static_cast<std::uint32_t>(rgb.green()) << 8) |
                      (static_cast<std::uint32_t>(rgb.blue()) << 16);
    return static_cast<std::int32_t>(bits);
}

// ---- TzorEdit ----

TzorEdit::TzorEdit(QWidget* parent) : QLineEdit(parent) {
    connect(this, &QLineEdit::textChanged, this, &TzorEdit::TextChanged);
    connect(this, &QLineEdit::editingFinished, this, &TzorEdit::Store);
}

TzorEdit::~TzorEdit() {
    // Nothing may reach the variable once it is gone, not even while the line edit is torn
    // down.
    disconnect(this, &QLineEdit::textChanged, this, &TzorEdit::TextChanged);
    disconnect(this, &QLineEdit::editingFinished, this, &TzorEdit::Store);
    variable_.reset();
}

void TzorEdit::Loaded() {
    const std::string name = FirstLoadName(loaded_, namedAs_, *this);
    if (name.empty()) {
        return;
    }
    variable_ = std::make_unique<TRegistryString>(name, text().toStdString());
    // Showing the value passes through TextChanged, which gives the variable the same value.
    setText(QString::fromStdString(variable_->Value()));
}

std::string TzorEdit::ValueName() const {
    return variable_ ? variable_->ValueName() : std::string();
}

void TzorEdit::Store() {
    if (variable_) {
        variable_->SetValue(text().toStdString());
        variable_->Save();
    }
}

void TzorEdit::TextChanged(const QString& text) {
    if (variable_) {
        variable_->SetValue(text.toStdString());
    }
}

// ---- TzorRadioGroup ----

TzorRadioGroup::TzorRadioGroup(QWidget* parent) : TzorRadioGroup(QString(), parent) {}

TzorRadioGroup::TzorRadioGroup(const QString& title, QWidget* parent)
    : QGroupBox(title, parent), layout_(new QVBoxLayout(this)), buttons_(new QButtonGroup(this)) {
    buttons_->setExclusive(true);
    connect(buttons_, &QButtonGroup::idToggled, this, &TzorRadioGroup::Toggled);
}

TzorRadioGroup::~TzorRadioGroup() {
    disconnect(buttons_, &QButtonGroup::idToggled, this, &TzorRadioGroup::Toggled);
    if (variable_) {
        variable_->SetValue(ItemIndex());
        variable_->Save();
        variable_.reset();
    }
}

void TzorRadioGroup::SetItems(const QStringList& items) {
    const QList<QAbstractButton*> old = buttons_->buttons();
    for (QAbstractButton* button : old) {
        buttons_->removeButton(button);
        delete button;
    }
    items_ = items;
    for (int i = 0; i < Count(); ++i) {
        auto* button = new QRadioButton(items_[i], this);
        buttons_->addButton(button, i);
        layout_->addWidget(button);
    }
}

int TzorRadioGroup::ItemIndex() const {
    return buttons_->checkedId();
}

void TzorRadioGroup::SetItemIndex(int index) {
    if (index < -1 || index >= Count() || index == ItemIndex()) {
        return;
    }
    if (index == -1) {
        // An exclusive group keeps its checked button; only a non-exclusive one lets go.
        QAbstractButton* checked = buttons_->checkedButton();
        buttons_->setExclusive(false);
        checked->setChecked(false);
        buttons_->setExclusive(true);
        return;
    }
    buttons_->button(index)->setChecked(true);
}

void TzorRadioGroup::Loaded() {
    const std::string name = FirstLoadName(loaded_, namedAs_, *this);
    if (name.empty()) {
        return;
    }
    variable_ = std::make_unique<TRegistryInteger>(name, ItemIndex());
    const bool wasSuppressed = suppressClick_;
    suppressClick_ = true;
    SetItemIndex(variable_->Value());
    suppressClick_ = wasSuppressed;
}

std::string TzorRadioGroup::ValueName() const {
    return variable_ ? variable_->ValueName() : std::string();
}

void TzorRadioGroup::Store() {
    if (variable_) {
        variable_->SetValue(ItemIndex());
        variable_->Save();
    }
}

void TzorRadioGroup::Toggled(int /*id*/, bool checked) {
    if (checked && !suppressClick_) {
        Store();
        emit Click();
    }
}

// ---- TzorColorDialog ----

TzorColorDialog::TzorColorDialog(QObject* parent) : QObject(parent) {}

TzorColorDialog::~TzorColorDialog() {
    if (variable_) {
        variable_->SetValue(color_);
        variable_.reset();
    }
}

bool TzorColorDialog::Execute(QWidget* parent) {
    const Chooser& choose = chooser_ ? chooser_ : Chooser(StandardChooser);
    const std::optional<QColor> chosen = choose(QtColor(), parent);
    if (!chosen || !chosen->isValid()) {
        return false;
    }
    color_ = WindowsColorFromQColor(*chosen);
    if (variable_) {
        variable_->SetValue(color_);
        variable_->Save();
    }
    return true;
}

void TzorColorDialog::Loaded() {
    const std::string name = FirstLoadName(loaded_, namedAs_, *this);
    if (name.empty()) {
        return;
    }
    variable_ = std::make_unique<TRegistryInteger>(name, color_);
    color_ = variable_->Value();
}

std::string TzorColorDialog::ValueName() const {
    return variable_ ? variable_->ValueName() : std::string();
}

} // namespace vantorel

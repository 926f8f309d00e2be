#pragma once

// Controls of the window that keep their state between runs. Each one owns one registry
// variable under the program's key, named by its NamedAs property or, when that is empty,
// by its object name. The window calls Loaded() once after it is built: the variable is
// made then, with the control's state at that moment as the default, and the stored value
// is shown. The value is written when the user changes it (so that a crash loses nothing)
// and again when the control is destroyed.
//
// A control with neither NamedAs nor an object name keeps nothing: an empty value name
// would stand for the key's default value, which is not the control's to use.

#include "settings/RegistryVariables.h"

#include <QColor>
#include <QGroupBox>
#include <QLineEdit>
#include <QObject>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

class QButtonGroup;
class QVBoxLayout;

namespace vantorel {

/// The colour of a Windows colour value 0x00BBGGRR (red in the low byte; the high byte
/// is ignored).
QColor QColorFromWindowsColor(std::int32_t color);
/// The Windows colour value 0x00BBGGRR of a colour (alpha is dropped).
std::int32_t WindowsColorFromQColor(const QColor& color);

/// A line edit whose text is kept as a string value.
class TzorEdit : public QLineEdit {
    Q_OBJECT
    Q_PROPERTY(QString NamedAs READ NamedAs WRITE SetNamedAs)

public:
    explicit TzorEdit(QWidget* parent = nullptr);
    /// Writes the text last shown (when Loaded was called).
    ~TzorEdit() override;

    QString NamedAs() const { return namedAs_; }
    void SetNamedAs(const QString& name) { namedAs_ = name; }

    /// Makes the variable with the current text as the default and shows its value.
    /// Only the first call has an effect.
    void Loaded();

    /// The value name in use: "" before Loaded or when the control keeps nothing.
    std::string ValueName() const;
    /// Writes the text now (done by itself when the user finishes editing).
    void Store();

private:
    void TextChanged(const QString& text);

    QString namedAs_;
    bool loaded_ = false;
    std::unique_ptr<TRegistryString> variable_;
};

/// A group box with a column of radio buttons, one chosen at most; the index of the
/// chosen one is kept as an integer value.
class TzorRadioGroup : public QGroupBox {
    Q_OBJECT
    Q_PROPERTY(QString NamedAs READ NamedAs WRITE SetNamedAs)

public:
    explicit TzorRadioGroup(QWidget* parent = nullptr);
    explicit TzorRadioGroup(const QString& title, QWidget* parent = nullptr);
    /// Writes the index chosen last (when Loaded was called).
    ~TzorRadioGroup() override;

    QString NamedAs() const { return namedAs_; }
    void SetNamedAs(const QString& name) { namedAs_ = name; }

    /// Puts one radio button per item in place of the old ones; none is chosen.
    void SetItems(const QStringList& items);
    QStringList Items() const { return items_; }
    int Count() const { return static_cast<int>(items_.size()); }

    /// The index of the chosen item, -1 when none is.
    int ItemIndex() const;
    /// Chooses the item at index (Click follows when the choice changes); -1 takes the
    /// choice away. Any other index outside the items is ignored.
    void SetItemIndex(int index);

    /// Makes the variable with the current index as the default and chooses the item at
    /// its value without a Click. A stored index outside the items keeps the current
    /// choice. Only the first call has an effect.
    void Loaded();

    /// The value name in use: "" before Loaded or when the control keeps nothing.
    std::string ValueName() const;
    /// Writes the chosen index now (done by itself whenever the choice changes).
    void Store();

signals:
    /// An item has become the chosen one, by the user or by SetItemIndex.
    void Click();

private:
    void Toggled(int id, bool checked);

    QString namedAs_;
    QStringList items_;
    QVBoxLayout* layout_;
    QButtonGroup* buttons_;
    bool suppressClick_ = false;
    bool loaded_ = false;
    std::unique_ptr<TRegistryInteger> variable_;
};

/// A colour chooser shown on demand; its colour is kept as an integer value (a Windows
/// colour value).
class TzorColorDialog : public QObject {
    Q_OBJECT
    Q_PROPERTY(QString NamedAs READ NamedAs WRITE SetNamedAs)

public:
    /// Asks for a colour starting at initial; nullopt when the user cancels.
    using Chooser = std::function<std::optional<QColor>(const QColor& initial, QWidget* parent)>;

    explicit TzorColorDialog(QObject* parent = nullptr);
    /// Writes the colour (when Loaded was called).
    ~TzorColorDialog() override;

    QString NamedAs() const { return namedAs_; }
    void SetNamedAs(const QString& name) { namedAs_ = name; }

    /// The colour as a Windows colour value 0x00BBGGRR.
    std::int32_t Color() const { return color_; }
    void SetColor(std::int32_t color) { color_ = color; }
    QColor QtColor() const { return QColorFromWindowsColor(color_); }

    /// Replaces the standard colour dialog (tests); an empty chooser restores it.
    void SetChooser(Chooser chooser) { chooser_ = std::move(chooser); }

    /// Shows the chooser at the current colour. On OK takes the chosen colour, writes it
    /// and returns true; on cancel changes nothing and returns false.
    bool Execute(QWidget* parent = nullptr);

    /// Makes the variable with the current colour as the default and takes its value.
    /// Only the first call has an effect.
    void Loaded();

    /// The value name in use: "" before Loaded or when the control keeps nothing.
    std::string ValueName() const;

private:
    QString namedAs_;
    std::int32_t color_ = 0;
    Chooser chooser_;
    bool loaded_ = false;
    std::unique_ptr<TRegistryInteger> variable_;
};

} // namespace vantorel

#pragma once
// The few control kinds Qt has no exact match for.

#include <QAbstractSpinBox>
#include <QFrame>
#include <QLabel>
#include <QString>
#include <functional>
#include <utility>
#include <vector>

class QComboBox;

namespace zelkor::app {

// A picture box: shows an image, reports left presses with the modifier keys held. The image is
// scaled to the box, or, with extendRight, kept at its own width with its last column drawn on to
// the box's right edge (a banner in a window wider than the banner).
class PictureBox : public QLabel {
    Q_OBJECT
  public:
    explicit PictureBox(QWidget* parent = nullptr);
    void setExtendRight(bool on);
  signals:
    void leftPressed(Qt::KeyboardModifiers modifiers);

  protected:
    void mousePressEvent(QMouseEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

  private:
    bool m_extendRight = false;
};

// A label that acts on a left press (the "选择目录" and "导出数据" links).
class PressLabel : public QLabel {
    Q_OBJECT
  public:
    explicit PressLabel(QWidget* parent = nullptr);
  signals:
    void leftPressed();

  protected:
    void mousePressEvent(QMouseEvent* event) override;
};

// A shape box: a plain frame that holds other controls.
class ShapeBox : public QFrame {
    Q_OBJECT
  public:
    explicit ShapeBox(QWidget* parent = nullptr);
};

// A free-text edit box with an up-down spinner. Any text is accepted; the arrows read the number
// at the front of the text and step it within [minimum, maximum].
class SpinEdit : public QAbstractSpinBox {
    Q_OBJECT
  public:
    SpinEdit(int minimum, int maximum, QWidget* parent = nullptr);
    QString textValue() const;
    void setTextValue(const QString& text);
    void stepBy(int steps) override;
    QValidator::State validate(QString& input, int& pos) const override;

  signals:
    void textValueChanged(const QString& text);

  protected:
    StepEnabled stepEnabled() const override;

  private:
    int current() const;
    int m_minimum;
    int m_maximum;
};

// A control whose value is one text however it shows it (check boxes over a list, a choice among
// items): the mirror and the settings file see only that text.
class ValueWidget : public QWidget {
    Q_OBJECT
  public:
    using QWidget::QWidget;
    virtual QString textValue() const = 0;
    virtual void setTextValue(const QString& value) = 0;

  signals:
    void textValueChanged(const QString& value);
};

// A choice among fixed items, each kept as its own text; the first is the default. A text that names
// no item chooses the default, or, when other values are kept, becomes an item of its own (a value
// written by hand or by the command line is then shown and kept as it is).
class ChoiceBox : public ValueWidget {
    Q_OBJECT
  public:
    struct Item {
        QString value;   // kept in the settings file; "" for the default
        QString caption; // shown
    };
    ChoiceBox(std::vector<Item> items, bool keepOtherValues = false, QWidget* parent = nullptr);
    QString textValue() const override;
    void setTextValue(const QString& value) override;
    QComboBox* combo() const { return m_combo; }
    // How a kept value of its own is shown; the value itself when not set or when it gives "".
    void setKeptCaption(std::function<QString(const QString& value)> caption) { m_keptCaption = std::move(caption); }

  private:
    std::vector<Item> m_items;
    std::function<QString(const QString&)> m_keptCaption;
    bool m_keepOtherValues;
    QComboBox* m_combo;
};

// Leading whitespace, an optional sign and decimal digits; full-width digits count; 0 otherwise.
int leadingInteger(const QString& text);

} // namespace zelkor::app

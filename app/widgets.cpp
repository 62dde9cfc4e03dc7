#include "app/widgets.h"

#include <QComboBox>
#include <algorithm>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPainter>
#include <algorithm>

namespace zelkor::app {

PictureBox::PictureBox(QWidget* parent) : QLabel(parent) {
    setFocusPolicy(Qt::NoFocus);
    setScaledContents(true);
}

void PictureBox::setExtendRight(bool on) {
    m_extendRight = on;
    setScaledContents(!on);
    update();
}

void PictureBox::paintEvent(QPaintEvent* event) {
    const QPixmap picture = pixmap();
    if (!m_extendRight || picture.isNull()) {
        QLabel::paintEvent(event);
        return;
    }
    QPainter painter(this);
    const QPixmap fitted = picture.height() == height() ? picture : picture.scaledToHeight(height(), Qt::SmoothTransformation);
    painter.drawPixmap(0, 0, fitted);
    if (fitted.width() < width() && fitted.width() > 0)
        painter.drawPixmap(QRect(fitted.width(), 0, width() - fitted.width(), height()), fitted,
                           QRect(fitted.width() - 1, 0, 1, fitted.height()));
}

void PictureBox::mousePressEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton) emit leftPressed(event->modifiers());
    QLabel::mousePressEvent(event);
}

PressLabel::PressLabel(QWidget* parent) : QLabel(parent) {
    setFocusPolicy(Qt::NoFocus);
    setCursor(Qt::PointingHandCursor);
}

void PressLabel::mousePressEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton) emit leftPressed();
    QLabel::mousePressEvent(event);
}

ShapeBox::ShapeBox(QWidget* parent) : QFrame(parent) {
    setFrameShape(QFrame::Box);
    setFrameShadow(QFrame::Sunken);
    setFocusPolicy(Qt::NoFocus);
}

ChoiceBox::ChoiceBox(std::vector<Item> items, bool keepOtherValues, QWidget* parent)
    : ValueWidget(parent), m_items(std::move(items)), m_keepOtherValues(keepOtherValues),
      m_combo(new QComboBox(this)) {
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(0, 0, 0, 0);
    row->addWidget(m_combo);
    for (const Item& item : m_items)
        m_combo->addItem(item.caption);
    setFocusProxy(m_combo);
    connect(m_combo, &QComboBox::currentIndexChanged, this, [this] { emit textValueChanged(textValue()); });
}

QString ChoiceBox::textValue() const {
    const int at = m_combo->currentIndex();
    return at >= 0 && at < static_cast<int>(m_items.size()) ? m_items[static_cast<std::size_t>(at)].value : QString();
}

void ChoiceBox::setTextValue(const QString& value) {
    const QString wanted = value.trimmed();
    int at = -1;
    for (std::size_t i = 0; i < m_items.size(); ++i)
        if (m_items[i].value == wanted) at = static_cast<int>(i);
    if (at < 0 && m_keepOtherValues && !wanted.isEmpty()) {
        const QString caption = m_keptCaption ? m_keptCaption(wanted) : QString();
        m_items.push_back({wanted, caption.isEmpty() ? wanted : caption});
        m_combo->addItem(m_items.back().caption);
        at = static_cast<int>(m_items.size()) - 1;
    }
    m_combo->setCurrentIndex(std::max(at, 0));
}

int leadingInteger(const QString& raw) {
    QString text;
    text.reserve(raw.size());
    for (QChar c : raw) {
        const char16_t u = c.unicode();
        if (u == 0x3000)
            text += QLatin1Char(' ');
        else if (u >= 0xFF01 && u <= 0xFF5E)
            text += QChar(char16_t(u - 0xFEE0));
        else
            text += c;
    }
    qsizetype i = 0;
    while (i < text.size() &&
           (text[i] == QLatin1Char(' ') || (text[i] >= QLatin1Char('\t') && text[i] <= QLatin1Char('\r'))))
        ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == QLatin1Char('+') || text[i] == QLatin1Char('-'))) {
        negative = text[i] == QLatin1Char('-');
        ++i;
    }
    long long value = 0;
    for (; i < text.size() && text[i] >= QLatin1Char('0') && text[i] <= QLatin1Char('9'); ++i) {
        value = std::min<long long>(value * 10 + (text[i].unicode() - '0'), 1LL << 31);
    }
    value = negative ? -value : value;
    return static_cast<int>(std::clamp<long long>(value, INT32_MIN, INT32_MAX));
}

SpinEdit::SpinEdit(int minimum, int maximum, QWidget* parent)
    : QAbstractSpinBox(parent), m_minimum(minimum), m_maximum(maximum) {
    setCorrectionMode(QAbstractSpinBox::CorrectToPreviousValue);
    setButtonSymbols(QAbstractSpinBox::UpDownArrows);
    connect(lineEdit(), &QLineEdit::textChanged, this, &SpinEdit::textValueChanged);
}

QString SpinEdit::textValue() const {
    return lineEdit()->text();
}

void SpinEdit::setTextValue(const QString& text) {
    if (lineEdit()->text() != text) lineEdit()->setText(text);
}

int SpinEdit::current() const {
    return leadingInteger(textValue());
}

void SpinEdit::stepBy(int steps) {
    const long long next = static_cast<long long>(current()) + steps;
    setTextValue(QString::number(std::clamp<long long>(next, m_minimum, m_maximum)));
    lineEdit()->selectAll();
}

QValidator::State SpinEdit::validate(QString&, int&) const {
    return QValidator::Acceptable;
}

QAbstractSpinBox::StepEnabled SpinEdit::stepEnabled() const {
    const int value = current();
    StepEnabled enabled = StepNone;
    if (value < m_maximum) enabled |= StepUpEnabled;
    if (value > m_minimum) enabled |= StepDownEnabled;
    return enabled;
}

} // namespace zelkor::app

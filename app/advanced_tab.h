#pragma once
// The fifth page, 高级: the capabilities beyond the original behaviour, each opt-in, one group box
// per capability, in two columns that fit the page at the window's first size. Every box's
// objectName is its key in the settings file; the engine names the keys in ctl::kAdvancedBoxes,
// so both faces read the same values. Every box says its unit and, in its tooltip, what it does
// and what it takes; each is checked as it is typed (a red frame and the reason under it).

#include "app/widgets.h"

#include <QString>
#include <QStringList>
#include <QWidget>

class QCheckBox;
class QPlainTextEdit;

namespace zelkor::app {

inline constexpr const char* kAdvancedPage = "高级";

// The seed variants as check boxes over one settings value, the comma list the engine reads
// (编辑框_种子变体, whose name this widget carries). Ticks give the list in a fixed order, az, digits,
// questions, then frames whenever the frames box holds one; a list read back ticks its words in
// any order, and words the boxes do not know are dropped.
class VariantChoice : public ValueWidget {
    Q_OBJECT
  public:
    VariantChoice(QPlainTextEdit* frames, QWidget* parent = nullptr);
    QString textValue() const override;
    void setTextValue(const QString& list) override;
    QCheckBox* box(const QString& word) const;

  private:
    void changed();
    QPlainTextEdit* m_frames;
    QCheckBox* m_az;
    QCheckBox* m_digits;
    QCheckBox* m_questions;
    QString m_last;
};

// Lays the page out and wires the checks. Call once.
void buildAdvancedPage(QWidget* page);

// Checks every box of the page again (values set by the program rather than typed included).
void recheckAdvancedPage(QWidget* page);

// "name“value”无法使用：reason" (a box of many lines without its value) for every box whose value
// cannot be used, in page order; empty when all can.
QStringList advancedProblems(QWidget* page);

} // namespace zelkor::app

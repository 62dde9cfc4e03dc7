#pragma once
// The fifth page, 高级: the capabilities beyond the original behaviour, each opt-in, one group box
// per capability. Every box's objectName is its key in the settings file; the engine names the
// keys in ctl::kAdvancedBoxes, so both faces read the same values.

#include "app/widgets.h"

#include <QString>
#include <QWidget>
#include <string_view>

class QCheckBox;
class QFormLayout;
class QGroupBox;
class QLineEdit;
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

// Lays the page out: group boxes stacked from the top, scrolled when they outgrow the page.
// Call once, before the boxes are added.
void buildAdvancedPage(QWidget* page);

// Seed variants and result filters.
void addVariantsGroup(QWidget* page);

// The largest answer and the deadline of every request.
void addAnswerLimitsGroup(QWidget* page);

// Where a run keeps its state (默认, or SQLite: a run cut short can be continued at the next start)
// and the format of 导出数据 (csv, jsonl and xlsx carry each result's source, seed, parent and depth).
void addStoreGroup(QWidget* page);

// Retries, cool-downs and proxies of a run.
void addResilienceGroup(QWidget* page);

// The throughput mode: many keywords in flight, each service at its own pace.
void addParallelGroup(QWidget* page);

// A group box at the end of the page, its rows laid out as label and box.
QGroupBox* addAdvancedGroup(QWidget* page, std::string_view objectName, const QString& title);
QLineEdit* addAdvancedLine(QGroupBox* group, std::string_view control, const QString& label,
                           const QString& placeholder = {});
QPlainTextEdit* addAdvancedLines(QGroupBox* group, std::string_view control, const QString& label,
                                 const QString& placeholder = {}, int height = 72);

} // namespace zelkor::app

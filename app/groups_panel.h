#pragma once
// The groups of the results beside the table of the window 分析: by root word or by intent tag, as
// `zelkor-cli groups` makes them (largest first, the phrases without one last under the same name),
// each with its size. A click chooses a group; the choice is kept by name when the groups are made
// again from more rows, so that a growing run's table goes on showing that group.
//
// Threads: the window thread.

#include "analysis/keyword_groups.h"

#include <QWidget>
#include <memory>
#include <optional>
#include <string>

class QComboBox;
class QTableWidget;

namespace zelkor::app {

class RowWords;

class GroupsPanel : public QWidget {
    Q_OBJECT
  public:
    explicit GroupsPanel(QWidget* parent = nullptr);

    GroupBy by() const;
    void setBy(GroupBy by);
    // Lists the groups of `words` (none: an empty list), the choice kept.
    void showGroups(std::shared_ptr<const RowWords> words);
    // The group chosen, with its members as last listed (none when it is no longer there).
    std::optional<ResultGroup> chosen() const;
    // Chooses the group on `row` of the list, as a click does.
    void choose(int row);
    void clearChoice(); // quietly: nothing is emitted
    QTableWidget* list() const { return m_list; }

  signals:
    // A group was chosen, or the choice was dropped because the kind of groups changed.
    void choiceChanged();

  private:
    void relist();

    QComboBox* m_by;
    QTableWidget* m_list;
    std::shared_ptr<const RowWords> m_words;
    std::optional<std::string> m_chosen; // the name, of the kind shown
};

} // namespace zelkor::app

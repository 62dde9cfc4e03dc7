#include "app/groups_panel.h"

#include "app/qt_text.h"
#include "app/row_words.h"

#include <QComboBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QTableWidget>
#include <QVBoxLayout>

namespace zelkor::app {

GroupsPanel::GroupsPanel(QWidget* parent) : QWidget(parent) {
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    auto* top = new QHBoxLayout;
    top->addWidget(new QLabel(qs("分组："), this));
    m_by = new QComboBox(this);
    m_by->setObjectName(qs("组合框_分组方式"));
    m_by->addItem(qs("按词根"), int(GroupBy::Root));
    m_by->addItem(qs("按意图"), int(GroupBy::Tag));
    top->addWidget(m_by, 1);
    layout->addLayout(top);
    m_list = new QTableWidget(0, 2, this);
    m_list->setObjectName(qs("表格_分组"));
    m_list->setHorizontalHeaderLabels({qs("组"), qs("词数")});
    m_list->setToolTip(qs("点一个组，表格里只留这一组的词"));
    m_list->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_list->setSelectionMode(QAbstractItemView::SingleSelection);
    m_list->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_list->setWordWrap(false);
    m_list->verticalHeader()->hide();
    m_list->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    m_list->verticalHeader()->setDefaultSectionSize(m_list->fontMetrics().height() + 6);
    m_list->horizontalHeader()->setSectionResizeMode(0, QHeaderView::Stretch);
    m_list->horizontalHeader()->setSectionResizeMode(1, QHeaderView::ResizeToContents);
    layout->addWidget(m_list, 1);

    connect(m_by, &QComboBox::currentIndexChanged, this, [this] {
        const bool hadChoice = m_chosen.has_value();
        m_chosen.reset();
        relist();
        if (hadChoice) emit choiceChanged();
    });
    connect(m_list, &QTableWidget::cellClicked, this, [this](int row) { choose(row); });
}

GroupBy GroupsPanel::by() const {
    return static_cast<GroupBy>(m_by->currentData().toInt());
}

void GroupsPanel::setBy(GroupBy by) {
    m_by->setCurrentIndex(m_by->findData(int(by)));
}

void GroupsPanel::showGroups(std::shared_ptr<const RowWords> words) {
    m_words = std::move(words);
    relist();
}

void GroupsPanel::relist() {
    const QSignalBlocker quiet(m_list);
    m_list->clearSelection();
    const std::vector<ResultGroup> none;
    const std::vector<ResultGroup>& groups = m_words ? m_words->groups(by()) : none;
    m_list->setRowCount(static_cast<int>(groups.size()));
    int row = 0;
    for (const ResultGroup& group : groups) {
        auto* name = new QTableWidgetItem(QString::fromStdString(group.name));
        auto* count = new QTableWidgetItem(QString::number(group.members.size()));
        count->setTextAlignment(Qt::AlignRight | Qt::AlignVCenter);
        m_list->setItem(row, 0, name);
        m_list->setItem(row, 1, count);
        if (m_chosen && *m_chosen == group.name) m_list->selectRow(row);
        ++row;
    }
}

std::optional<ResultGroup> GroupsPanel::chosen() const {
    if (!m_chosen) return std::nullopt;
    if (m_words)
        for (const ResultGroup& group : m_words->groups(by()))
            if (group.name == *m_chosen) return group;
    return ResultGroup{*m_chosen, {}};
}

void GroupsPanel::choose(int row) {
    if (!m_words || row < 0 || row >= static_cast<int>(m_words->groups(by()).size())) return;
    m_chosen = m_words->groups(by())[static_cast<std::size_t>(row)].name;
    {
        const QSignalBlocker quiet(m_list);
        m_list->selectRow(row);
    }
    emit choiceChanged();
}

void GroupsPanel::clearChoice() {
    m_chosen.reset();
    const QSignalBlocker quiet(m_list);
    m_list->clearSelection();
}

} // namespace zelkor::app

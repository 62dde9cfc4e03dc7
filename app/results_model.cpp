#include "app/results_model.h"

#include "app/qt_text.h"
#include "text/regex.h"

#include <QItemSelectionModel>
#include <algorithm>
#include <set>

namespace zelkor::app {

namespace {

const char* const kHeaders[ResultsModel::ColumnCount] = {"关键词", "来源", "主词",   "父词", "层级",
                                                         "时间",   "次数", "来源数", "词根", "意图"};

// A numeric column's value; 0 for the others.
int numberOf(const ResultRecord& record, int column) {
    return column == ResultsModel::Depth  ? record.depth
           : column == ResultsModel::Hits ? record.hits
           : column == ResultsModel::Services ? record.services
                                              : 0;
}

bool counted(const ResultRecord& record) {
    return record.hits > 0;
}

// The GBK text of a column the record holds; nullptr for the numbers and the words.
const Text* textOf(const ResultRecord& record, int column) {
    switch (column) {
    case ResultsModel::Keyword:
        return &record.keyword;
    case ResultsModel::Source:
        return &record.sourceName;
    case ResultsModel::Seed:
        return &record.mainWord;
    case ResultsModel::Parent:
        return &record.parent;
    case ResultsModel::Time:
        return &record.time;
    default:
        return nullptr;
    }
}

QString oneLine(QString cell) {
    for (QChar& c : cell)
        if (c == QLatin1Char('\t') || c == QLatin1Char('\r') || c == QLatin1Char('\n')) c = QLatin1Char(' ');
    return cell;
}

} // namespace

void ResultsModel::setRecords(std::vector<ResultRecord> records) {
    beginResetModel();
    m_records = std::move(records);
    m_words.reset();
    ++m_resets;
    m_hitsCounted = std::any_of(m_records.begin(), m_records.end(), counted);
    endResetModel();
}

void ResultsModel::append(std::vector<ResultRecord> records) {
    if (records.empty()) return;
    const int first = static_cast<int>(m_records.size());
    m_hitsCounted = m_hitsCounted || std::any_of(records.begin(), records.end(), counted);
    beginInsertRows({}, first, first + static_cast<int>(records.size()) - 1);
    m_records.insert(m_records.end(), std::make_move_iterator(records.begin()), std::make_move_iterator(records.end()));
    endInsertRows();
}

void ResultsModel::setWords(std::shared_ptr<const RowWords> words) {
    // A layout change, not a change of data: the filter then sorts and filters once over every row,
    // where a change of 10^5 cells would move the rows one by one.
    emit layoutAboutToBeChanged();
    m_words = std::move(words);
    emit layoutChanged();
}

const Text* ResultsModel::textAt(int row, int column) const {
    if (!wordColumn(column)) return textOf(record(row), column);
    const auto at = static_cast<std::size_t>(row);
    if (!m_words || at >= m_words->rows()) return nullptr;
    return &(column == Root ? m_words->root(at) : m_words->tags(at)).gbk;
}

QString ResultsModel::cellText(int row, int column) const {
    if (!wordColumn(column)) return cellText(record(row), column);
    const auto at = static_cast<std::size_t>(row);
    if (!m_words || at >= m_words->rows()) return {};
    return (column == Root ? m_words->root(at) : m_words->tags(at)).shown;
}

QString ResultsModel::cellText(const ResultRecord& record, int column) {
    if (column == Depth) return QString::number(record.depth);
    if (numeric(column)) return counted(record) ? QString::number(numberOf(record, column)) : QString();
    const Text* text = textOf(record, column);
    if (!text) return {};
    if (column == Time) {
        QString time = QString::fromStdString(*text);
        if (time.size() >= 19 && time[10] == QLatin1Char('T')) {
            time.truncate(19);
            time[10] = QLatin1Char(' ');
        }
        return time;
    }
    return toQString(*text);
}

int ResultsModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(m_records.size());
}

int ResultsModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : ColumnCount;
}

QVariant ResultsModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= rowCount()) return {};
    const ResultRecord& r = record(index.row());
    switch (role) {
    case Qt::DisplayRole:
        return cellText(index.row(), index.column());
    case Qt::ToolTipRole:
        if (index.column() == Time) return QString::fromStdString(r.time);
        return {};
    case Qt::TextAlignmentRole:
        if (numeric(index.column())) return QVariant::fromValue(Qt::AlignRight | Qt::AlignVCenter);
        return {};
    default:
        return {};
    }
}

QVariant ResultsModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (role != Qt::DisplayRole) return {};
    if (orientation == Qt::Vertical) return section + 1;
    if (section < 0 || section >= ColumnCount) return {};
    return qs(kHeaders[section]);
}

ResultsFilter::ResultsFilter(ResultsModel* model, QObject* parent) : QSortFilterProxyModel(parent), m_model(model) {
    connect(model, &QAbstractItemModel::modelAboutToBeReset, this, [this] { m_keys.clear(); });
    // New words: the keys of a word column are stale (connected first, so cleared before the re-sort).
    connect(model, &QAbstractItemModel::layoutAboutToBeChanged, this, [this] {
        if (ResultsModel::wordColumn(m_keysColumn)) m_keys.clear();
    });
    setSourceModel(model);
}

std::uint64_t ResultsFilter::sortKey(int row, int column) const {
    if (column != m_keysColumn) {
        m_keys.clear();
        m_keysColumn = column;
    }
    const auto at = static_cast<std::size_t>(row);
    if (at >= m_keys.size()) {
        const std::size_t from = m_keys.size();
        m_keys.resize(m_model->records().size());
        for (std::size_t i = from; i < m_keys.size(); ++i) {
            const ResultRecord& record = m_model->records()[i];
            std::uint64_t key = 0;
            if (ResultsModel::numeric(column)) {
                key = static_cast<std::uint64_t>(numberOf(record, column)) ^ (std::uint64_t{1} << 63); // signed order
            } else if (const Text* text = m_model->textAt(static_cast<int>(i), column)) {
                for (std::size_t b = 0; b < 8; ++b)
                    key = key << 8 | (b < text->size() ? static_cast<unsigned char>((*text)[b]) : 0u);
            }
            m_keys[i] = key;
        }
    }
    return m_keys[at];
}

std::optional<QString> ResultsFilter::setFilter(const QString& text, Mode mode, int column) {
    std::optional<QString> problem;
    Text gbk = toGbk(text);
    if (mode == Mode::Pattern && !gbk.empty()) {
        const std::string why = RegexObject::patternProblem(gbk);
        if (!why.empty()) {
            problem = QString::fromStdString(why);
            gbk.clear();
        }
    }
    m_text = std::move(gbk);
    m_mode = mode;
    m_column = column;
    // What GBK cannot hold became "?": no result holds the character typed.
    m_unmatchable = mode == Mode::Plain && toQString(m_text) != text;
    invalidateRowsFilter();
    return problem;
}

void ResultsFilter::setRowSubset(std::optional<std::vector<bool>> rows) {
    m_subset = std::move(rows);
    invalidateRowsFilter();
}

bool ResultsFilter::matches(const Text* cell) const {
    if (!cell) return false;
    if (m_mode == Mode::Plain) return text_find(*cell, m_text, 1, true) > 0;
    RegexObject regex;
    return regex.create(m_text, *cell, false, true, false) && regex.match_count() > 0;
}

bool ResultsFilter::filterAcceptsRow(int sourceRow, const QModelIndex&) const {
    if (m_subset) {
        const auto row = static_cast<std::size_t>(sourceRow);
        if (row >= m_subset->size() || !(*m_subset)[row]) return false;
    }
    if (m_text.empty()) return !m_unmatchable;
    if (m_unmatchable) return false;
    if (m_column != kAllTextColumns) return matches(m_model->textAt(sourceRow, m_column));
    for (int column : {ResultsModel::Keyword, ResultsModel::Source, ResultsModel::Seed, ResultsModel::Parent,
                       ResultsModel::Root, ResultsModel::Tags})
        if (matches(m_model->textAt(sourceRow, column))) return true;
    return false;
}

bool ResultsFilter::lessThan(const QModelIndex& left, const QModelIndex& right) const {
    const std::uint64_t keyA = sortKey(left.row(), left.column());
    const std::uint64_t keyB = sortKey(right.row(), left.column());
    int order = keyA < keyB ? -1 : keyA > keyB;
    if (order == 0 && !ResultsModel::numeric(left.column())) {
        const Text* x = m_model->textAt(left.row(), left.column());
        const Text* y = m_model->textAt(right.row(), left.column());
        if (x && y) order = x->compare(*y); // char_traits<char> compares bytes unsigned
    }
    if (order != 0) return order < 0;
    // Equal rows keep the run's order both ways: a descending sort asks with the two swapped.
    return sortOrder() == Qt::AscendingOrder ? left.row() < right.row() : left.row() > right.row();
}

std::vector<int> ResultsFilter::sourceRowsAt(const std::vector<int>& rows) const {
    std::vector<int> out;
    out.reserve(rows.size());
    for (int row : rows)
        out.push_back(mapToSource(index(row, 0)).row());
    return out;
}

std::vector<int> ResultsFilter::shownSourceRows() const {
    std::vector<int> rows(static_cast<std::size_t>(rowCount()));
    for (int i = 0; i < rowCount(); ++i)
        rows[static_cast<std::size_t>(i)] = i;
    return sourceRowsAt(rows);
}

std::vector<int> selectedRows(const QItemSelectionModel& selection) {
    std::set<int> rows;
    for (const QModelIndex& index : selection.selectedIndexes())
        rows.insert(index.row());
    return {rows.begin(), rows.end()};
}

QString selectionText(const QItemSelectionModel& selection, const std::function<bool(int column)>& shown,
                      const std::function<int(int column)>& place) {
    const QModelIndexList cells = selection.selectedIndexes();
    const QAbstractItemModel* model = selection.model();
    if (!model || cells.isEmpty()) return {};
    std::set<int> rows;
    std::set<std::pair<int, int>> columns; // place, column
    std::set<std::pair<int, int>> chosen;
    for (const QModelIndex& cell : cells) {
        if (shown && !shown(cell.column())) continue;
        rows.insert(cell.row());
        columns.emplace(place ? place(cell.column()) : cell.column(), cell.column());
        chosen.emplace(cell.row(), cell.column());
    }
    QString text;
    for (int row : rows) {
        bool first = true;
        for (const auto& [at, column] : columns) {
            if (!first) text += QLatin1Char('\t');
            first = false;
            if (chosen.contains({row, column}))
                text += oneLine(model->data(model->index(row, column)).toString());
        }
        text += QLatin1Char('\n');
    }
    return text;
}

} // namespace zelkor::app

#pragma once
// The results of one run as a table: keyword, source, seed, parent, depth, time, the hits and
// services of a run that counted them (hidden otherwise), and the root word and intent tags once
// they are given (RowWords, made elsewhere since it segments every phrase). The model keeps
// the records as the engine gives them (GBK) and converts a cell only when a view asks for it, so a
// row costs its record and nothing more, however many there are. ResultsFilter sorts and filters
// over the records themselves: text columns compare as GBK bytes (pinyin order for the common
// characters), depth as a number; the filter is plain text (ASCII case ignored) or a pattern in the
// program's own dialect, matched as the result filters of a run match a phrase.
//
// Threads: the window thread only. Records may be read and made anywhere and handed over.

#include "app/row_words.h"
#include "engine/core/records.h"

#include <QAbstractTableModel>
#include <QSortFilterProxyModel>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

class QItemSelectionModel;

namespace zelkor::app {

class ResultsModel : public QAbstractTableModel {
    Q_OBJECT
  public:
    enum Column { Keyword, Source, Seed, Parent, Depth, Time, Hits, Services, Root, Tags, ColumnCount };

    using QAbstractTableModel::QAbstractTableModel;

    void setRecords(std::vector<ResultRecord> records); // replaces every row, and drops the words
    void append(std::vector<ResultRecord> records);     // rows after the last
    const std::vector<ResultRecord>& records() const { return m_records; }
    const ResultRecord& record(int row) const { return m_records[static_cast<std::size_t>(row)]; }
    // How many times the rows were replaced: words made from the rows of an older count are not theirs.
    std::uint64_t resets() const { return m_resets; }
    // Some row carries the hits its run counted.
    bool hitsCounted() const { return m_hitsCounted; }
    static bool numeric(int column) { return column == Depth || column == Hits || column == Services; }
    static bool wordColumn(int column) { return column == Root || column == Tags; }

    // The words of the first words->rows() rows (the rows after them have none yet), or none. Sorting
    // and filtering are done again, as after a change of layout.
    void setWords(std::shared_ptr<const RowWords> words);
    const std::shared_ptr<const RowWords>& words() const { return m_words; }

    // A cell as the table shows it: the time without its offset, "2026-12-10 13:45:00".
    static QString cellText(const ResultRecord& record, int column);
    QString cellText(int row, int column) const;
    // The GBK text of a text column's cell, as sorting and filtering compare it; nullptr for the
    // numbers, and for words a row does not have yet.
    const Text* textAt(int row, int column) const;

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;

  private:
    std::vector<ResultRecord> m_records;
    std::shared_ptr<const RowWords> m_words;
    std::uint64_t m_resets = 0;
    bool m_hitsCounted = false;
};

class ResultsFilter : public QSortFilterProxyModel {
    Q_OBJECT
  public:
    enum class Mode { Plain, Pattern };
    static constexpr int kAllTextColumns = -1; // keyword, source, seed, parent, and the words when given

    explicit ResultsFilter(ResultsModel* model, QObject* parent = nullptr);

    // Shows the rows whose `column` holds `text`; empty text shows every row. A pattern that does
    // not compile leaves every row shown and returns why (UTF-8 from the text layer, as a QString).
    std::optional<QString> setFilter(const QString& text, Mode mode, int column);
    // Only these rows of the model (a subtree of the demand map), all when nullopt; kept as the
    // model grows, rows past the end of `rows` not shown.
    void setRowSubset(std::optional<std::vector<bool>> rows);
    bool hasRowSubset() const { return m_subset.has_value(); }

    // The model's rows behind the shown rows `rows` (rows of this model), in the order given.
    std::vector<int> sourceRowsAt(const std::vector<int>& rows) const;
    // Every shown row's row of the model, in the shown order.
    std::vector<int> shownSourceRows() const;

  protected:
    bool filterAcceptsRow(int sourceRow, const QModelIndex& sourceParent) const override;
    bool lessThan(const QModelIndex& left, const QModelIndex& right) const override;

  private:
    bool matches(const Text* cell) const;
    // The first bytes of a row's cell in the sort column, packed so that comparing two keys
    // compares those bytes: most comparisons end here, without reaching into the records.
    std::uint64_t sortKey(int row, int column) const;

    ResultsModel* m_model;
    mutable std::vector<std::uint64_t> m_keys; // per model row; the model only grows between resets
    mutable int m_keysColumn = -1;
    Text m_text; // GBK
    Mode m_mode = Mode::Plain;
    int m_column = ResultsModel::Keyword;
    bool m_unmatchable = false; // the text holds characters no GBK result can hold
    std::optional<std::vector<bool>> m_subset;
};

// The selected cells as a spreadsheet pastes them: a line per row that has a selected cell, in the
// view's order; in it the columns that have one, between tabs, a cell not selected left empty.
// Tabs and line breaks inside a cell become spaces. Columns `shown` refuses (hidden ones) are left out;
// the columns go in the order `place` gives them (the view's), else in the model's.
QString selectionText(const QItemSelectionModel& selection, const std::function<bool(int column)>& shown = {},
                      const std::function<int(int column)>& place = {});

// The rows (of the selection's model) that have a selected cell, top to bottom.
std::vector<int> selectedRows(const QItemSelectionModel& selection);

} // namespace zelkor::app

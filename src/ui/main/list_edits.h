// The few row insertions and removals that turn a shown list into a newly
// read one, so a refresh touches only the rows that changed (inserted,
// removed, retitled) and a long list keeps its scroll place. Pure: the list
// box applies the steps (session.cpp).
#pragma once
#include "ui/main/rows.h"

#include <cstddef>
#include <string>
#include <vector>

enum class ListStep : unsigned char { keep, remove, insert };

// Rows before `first` and after the steps stay as they are. `refill` when
// more than the allowed number of rows were inserted or removed: filling
// the list afresh is then as cheap.
struct ListEdits {
    bool refill = false;
    size_t first = 0;
    std::vector<ListStep> steps;
    size_t changed = 0;  // removals and insertions among the steps
};

// A row stays when both its id and its line are unchanged; a retitled row is
// a removal and an insertion in its place.
ListEdits listEdits(const std::vector<ListRow>& shownRows, const std::vector<std::wstring>& shownLines,
                    const std::vector<ListRow>& rows, const std::vector<std::wstring>& lines, size_t most);

// Where the row shown at `index` is after the edits (where it stood, when it
// was removed).
size_t indexAfterEdits(const ListEdits& edits, size_t index, size_t shownCount, size_t newCount);

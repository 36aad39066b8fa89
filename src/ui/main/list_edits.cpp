#include "ui/main/list_edits.h"

#include <algorithm>

namespace {

struct Sides {
    const std::vector<ListRow>& shownRows;
    const std::vector<std::wstring>& shownLines;
    const std::vector<ListRow>& rows;
    const std::vector<std::wstring>& lines;
    bool same(size_t i, size_t j) const {
        return shownRows[i].id == rows[j].id && shownLines[i] == lines[j];
    }
};

}  // namespace

// The middle that differs, after the common head and tail, is matched with
// the greedy shortest-edit search (furthest reach on each diagonal for each
// number of edits), which costs time in its length times the edits found and
// stops at `most` edits.
ListEdits listEdits(const std::vector<ListRow>& shownRows, const std::vector<std::wstring>& shownLines,
                    const std::vector<ListRow>& rows, const std::vector<std::wstring>& lines, size_t most) {
    ListEdits edits;
    const Sides sides{shownRows, shownLines, rows, lines};
    const size_t n = std::min(shownRows.size(), shownLines.size()), m = std::min(rows.size(), lines.size());
    size_t head = 0;
    while (head < n && head < m && sides.same(head, head)) ++head;
    size_t tail = 0;
    while (tail < n - head && tail < m - head && sides.same(n - 1 - tail, m - 1 - tail)) ++tail;
    edits.first = head;
    const long long N = static_cast<long long>(n - head - tail), M = static_cast<long long>(m - head - tail);
    const long long limit = std::min(static_cast<long long>(most), N + M);
    if ((N > M ? N - M : M - N) > limit) {
        edits.refill = true;
        return edits;
    }
    // reach[k + offset]: the furthest shown index on diagonal k (new = shown - k).
    const long long offset = limit + 1;
    std::vector<long long> reach(static_cast<size_t>(2 * limit + 3), 0);
    std::vector<std::vector<long long>> trace;
    long long found = -1;
    for (long long d = 0; d <= limit && found < 0; ++d) {
        trace.push_back(reach);
        for (long long k = -d; k <= d; k += 2) {
            long long x = (k == -d || (k != d && reach[k - 1 + offset] < reach[k + 1 + offset]))
                              ? reach[k + 1 + offset]
                              : reach[k - 1 + offset] + 1;
            long long y = x - k;
            while (x < N && y < M && sides.same(head + static_cast<size_t>(x), head + static_cast<size_t>(y))) ++x, ++y;
            reach[k + offset] = x;
            if (x >= N && y >= M) {
                found = d;
                break;
            }
        }
    }
    if (found < 0) {
        edits.refill = true;
        return edits;
    }
    // Back from the end, one edit per round, then the rows kept before it.
    long long x = N, y = M;
    for (long long d = found; d >= 0; --d) {
        const std::vector<long long>& before = trace[static_cast<size_t>(d)];
        const long long k = x - y;
        const long long previous =
            (k == -d || (k != d && before[k - 1 + offset] < before[k + 1 + offset])) ? k + 1 : k - 1;
        const long long px = before[previous + offset], py = px - previous;
        while (x > px && y > py) {
            edits.steps.push_back(ListStep::keep);
            --x, --y;
        }
        if (d > 0) {
            edits.steps.push_back(x == px ? ListStep::insert : ListStep::remove);
            ++edits.changed;
        }
        x = px, y = py;
    }
    std::reverse(edits.steps.begin(), edits.steps.end());
    return edits;
}

size_t indexAfterEdits(const ListEdits& edits, size_t index, size_t shownCount, size_t newCount) {
    if (edits.refill) return std::min(index, newCount ? newCount - 1 : 0);
    if (index < edits.first) return index;
    size_t shown = edits.first, now = edits.first;
    for (ListStep step : edits.steps) {
        if (step != ListStep::insert && shown == index) return now;
        if (step != ListStep::insert) ++shown;
        if (step != ListStep::remove) ++now;
    }
    // In the common tail: shifted by what the middle gained or lost.
    return index + newCount - shownCount;
}

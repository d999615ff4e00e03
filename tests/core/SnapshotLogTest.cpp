#include "core/model/SnapshotLog.h"

#include "SnapshotTestData.h"

#include <gtest/gtest.h>

#include <QList>

#include <algorithm>
#include <iterator>
#include <vector>

using namespace SnapshotTestData;

namespace {

constexpr qsizetype kCap = SnapshotLog::chunkCapacity;

// Distinct in every field the comparison looks at.
UsageSnapshot numbered(qsizetype n)
{
    return reading(n % 2 ? Provider::claude : Provider::codex, WindowKind::fiveHour,
                   utc(2026, 1, 1).addSecs(n), double(n % 1000) / 10);
}

QList<UsageSnapshot> numberedList(qsizetype from, qsizetype count)
{
    QList<UsageSnapshot> list;
    list.reserve(count);
    for (qsizetype i = from; i < from + count; ++i)
        list.append(numbered(i));
    return list;
}

enum class Op
{
    appendOne,   // `count` single appends
    appendList,  // one append of a list of `count`
    appendMoved, // one append of an unshared list of `count`, moved in
    appendLog,   // one append of a separate log of `count`
    appendSelf,  // the log appended to itself
    removeLast,  // removeLast(count)
    copy,        // keep a copy, checked after every later step
    clear
};

struct Step
{
    Op op;
    qsizetype count = 0;
};

using Steps = std::vector<Step>;

Step step(Op op, qsizetype count = 0)
{
    return {op, count};
}

void expectSame(const SnapshotLog& log, const QList<UsageSnapshot>& model)
{
    ASSERT_EQ(log.size(), model.size());
    EXPECT_EQ(log.isEmpty(), model.isEmpty());
    EXPECT_EQ(std::distance(log.begin(), log.end()), model.size());
    qsizetype i = 0;
    for (const UsageSnapshot& s : log) {
        ASSERT_EQ(s.id, model[i].id) << "at " << i;
        ++i;
    }
    for (qsizetype j = 0; j < model.size(); ++j)
        ASSERT_EQ(log[j].id, model[j].id) << "at " << j;
    EXPECT_TRUE(log.toList() == model);
    if (!model.isEmpty()) {
        EXPECT_EQ(log.first().id, model.first().id);
        EXPECT_EQ(log.last().id, model.last().id);
    }
}

void expectMatchesAPlainListAndCopiesKeepTheirContents(const Steps& steps)
{
    SnapshotLog log;
    QList<UsageSnapshot> model;
    std::vector<std::pair<SnapshotLog, QList<UsageSnapshot>>> copies;
    qsizetype next = 0;
    int index = 0;
    for (const Step& step : steps) {
        SCOPED_TRACE(index++);
        switch (step.op) {
        case Op::appendOne:
            for (qsizetype i = 0; i < step.count; ++i) {
                const UsageSnapshot s = numbered(next++);
                log.append(s);
                model.append(s);
            }
            break;
        case Op::appendList: {
            const QList<UsageSnapshot> list = numberedList(next, step.count);
            next += step.count;
            log.append(list);
            model.append(list);
            break;
        }
        case Op::appendMoved: {
            QList<UsageSnapshot> list = numberedList(next, step.count);
            next += step.count;
            model.append(list);
            list.detach(); // unshared again, so the elements really move
            log.append(std::move(list));
            break;
        }
        case Op::appendLog: {
            const QList<UsageSnapshot> list = numberedList(next, step.count);
            next += step.count;
            log.append(SnapshotLog(list));
            model.append(list);
            break;
        }
        case Op::appendSelf:
            log.append(log);
            model.append(QList<UsageSnapshot>(model));
            break;
        case Op::removeLast:
            log.removeLast(step.count);
            model.resize(std::max<qsizetype>(0, model.size() - std::max<qsizetype>(0, step.count)));
            break;
        case Op::copy:
            copies.emplace_back(log, model);
            break;
        case Op::clear:
            log.clear();
            model.clear();
            break;
        }
        expectSame(log, model);
        for (const auto& [copy, copyModel] : copies)
            expectSame(copy, copyModel);
    }
}

TEST(SnapshotLog, OperationsMatchAPlainListAndCopiesKeepTheirContents)
{
    using O = Op;
    const std::pair<const char*, Steps> rows[] = {
        {"EmptyAndRemovingMoreThanTheSize",
         Steps{step(O::copy), step(O::removeLast, 1), step(O::removeLast, 0), step(O::clear),
               step(O::appendOne, 5), step(O::copy), step(O::removeLast, 6), step(O::appendOne, 2)}},
        {"ExactlyOneChunkThenOnePast", Steps{step(O::appendOne, kCap), step(O::copy), step(O::appendOne, 1),
                                             step(O::removeLast, 1), step(O::appendOne, 2)}},
        {"ListsAcrossBoundaries",
         Steps{step(O::appendList, kCap - 1), step(O::appendList, 2), step(O::appendList, 2 * kCap + 5)}},
        {"MovedListsAcrossBoundaries", Steps{step(O::appendMoved, 3), step(O::copy),
                                             step(O::appendMoved, kCap), step(O::appendMoved, kCap + 7)}},
        {"RemoveAcrossAChunkBoundary",
         Steps{step(O::appendOne, kCap + 10), step(O::copy), step(O::removeLast, 12), step(O::appendOne, 3),
               step(O::removeLast, kCap + 1), step(O::removeLast, 0), step(O::removeLast, -4)}},
        {"RemoveDownToExactlyOneChunk",
         Steps{step(O::appendList, 2 * kCap + 1), step(O::removeLast, kCap + 1), step(O::appendOne, 1)}},
        // The store's own pattern: drop the unfinished tail, append it again with what follows, while the
        // previous cycle's log is still published.
        {"CopiesTakenBeforeEveryChange",
         Steps{step(O::appendList, 2 * kCap + 100), step(O::copy), step(O::removeLast, 1),
               step(O::appendOne, 2), step(O::copy), step(O::removeLast, 101), step(O::copy),
               step(O::appendList, kCap), step(O::copy), step(O::clear), step(O::appendOne, 1)}},
        {"AppendLogs", Steps{step(O::appendLog, 5), step(O::copy), step(O::appendLog, kCap + 1),
                             step(O::appendLog, 0), step(O::appendSelf)}},
        {"AppendSelfAcrossChunks", Steps{step(O::appendList, kCap + 3), step(O::copy), step(O::appendSelf)}}};
    for (const auto& [name, steps] : rows) {
        SCOPED_TRACE(name);
        expectMatchesAPlainListAndCopiesKeepTheirContents(steps);
    }
}

TEST(SnapshotLog, CopiesShareChunksUntilTheyChange)
{
    const SnapshotLog original = numberedList(0, 2 * kCap + 10);
    SnapshotLog copy = original;
    EXPECT_EQ(copy.sharedPrefixSize(original), original.size());
    // A copy that grows keeps the full chunks where they were; only the last one is copied.
    copy.append(numbered(-1));
    EXPECT_EQ(&copy[0], &original[0]);
    EXPECT_EQ(&copy[2 * kCap - 1], &original[2 * kCap - 1]);
    EXPECT_NE(&copy[2 * kCap], &original[2 * kCap]);
    EXPECT_EQ(copy.sharedPrefixSize(original), 2 * kCap);
    EXPECT_EQ(original.sharedPrefixSize(copy), 2 * kCap);
    // Lists built separately share nothing, however equal.
    EXPECT_EQ(SnapshotLog(original.toList()).sharedPrefixSize(original), 0);
    // A shortened copy keeps its full chunks; the one cut short is its own.
    EXPECT_EQ(original.first(kCap + 1).sharedPrefixSize(original), kCap);
    EXPECT_EQ(original.first(2 * kCap).sharedPrefixSize(original), 2 * kCap);
    EXPECT_EQ(original.first(0).size(), 0);
}

TEST(SnapshotLog, Equality)
{
    const QList<UsageSnapshot> list = numberedList(0, 2 * kCap + 10);
    const SnapshotLog base = list;
    QList<UsageSnapshot> changedMiddle = list;
    changedMiddle[kCap + 5].usedPercent += 1;
    SnapshotLog grownAndShrunk = base;
    grownAndShrunk.append(numbered(-1));
    grownAndShrunk.removeLast(1);
    SnapshotLog lastChanged = base;
    lastChanged.removeLast(1);
    lastChanged.append(numbered(-1));

    struct Row
    {
        const char* name;
        SnapshotLog other;
        bool equal;
    };
    const Row rows[] = {
        {"a copy (every chunk shared)", base, true},
        {"shared full chunks, equal last chunk copied", grownAndShrunk, true},
        {"built separately from the same list", SnapshotLog(list), true},
        {"one field differs in a middle chunk", SnapshotLog(changedMiddle), false},
        {"shared full chunks, last snapshot differs", lastChanged, false},
        {"one shorter", base.first(base.size() - 1), false},
        {"empty", SnapshotLog(), false},
    };
    for (const Row& row : rows) {
        EXPECT_EQ(base == row.other, row.equal) << row.name;
        EXPECT_EQ(row.other == base, row.equal) << row.name;
        EXPECT_EQ(base.toList() == row.other.toList(), row.equal) << row.name;
    }
    // NOLINTNEXTLINE(readability-container-size-empty): the comparison is what is tested
    EXPECT_TRUE(SnapshotLog() == SnapshotLog(QList<UsageSnapshot>{}));
}

TEST(SnapshotLog, IteratorsAreRandomAccess)
{
    const SnapshotLog log = numberedList(0, kCap + 2);
    auto it = log.begin() + kCap;
    EXPECT_EQ(it->id, log[kCap].id);
    EXPECT_EQ(it[1].id, log[kCap + 1].id);
    EXPECT_EQ(log.end() - it, 2);
    EXPECT_TRUE(log.begin() < it);
    --it;
    EXPECT_EQ((*it).id, log[kCap - 1].id);
    // Standard algorithms over the chunk boundary.
    const auto found = std::find_if(log.begin(), log.end(),
                                    [&](const UsageSnapshot& s) { return s.id == log[kCap + 1].id; });
    EXPECT_EQ(found - log.begin(), kCap + 1);
    const auto bound =
        std::lower_bound(log.begin(), log.end(), log[kCap].timestamp,
                         [](const UsageSnapshot& s, const QDateTime& t) { return s.timestamp < t; });
    EXPECT_EQ(bound - log.begin(), kCap);
}

} // namespace

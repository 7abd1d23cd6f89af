// What the day entry list paints: the time column, names and category, the
// two-line layout, the glyphs, and lookups that fail while painting.

#include "EQuorla.h"
#include "QuorlaTest.h"
#include "TDayEntries.h"
#include "TDayViewList.h"
#include "ViewTestSupport.h"

#include <QFontMetrics>
#include <QHash>
#include <QPainter>

using namespace ViewTest;

namespace {

const QString ann = QStringLiteral("0000000001");
const QString bob = QStringLiteral("0000000002");
const QString cy = QStringLiteral("0000000003");
const QString meetings = QStringLiteral("0000000005");
const QString none = QStringLiteral("0000000000");

// A list over its own entries, answering names and categories from maps the
// way the main window answers from its caches.
struct ListUnderTest
{
    TDayEntries entries;
    TDayViewList list;
    QHash<QString, QString> names{{ann, "Ann"}, {bob, "Bob"}, {cy, "Cy"}, {meetings, "Meetings"}};
    QStringList alarmed;
    QStringList repeating;
    QStringList detached;
    int categoryCalls = 0;
    QStringList errors;

    ListUnderTest()
    {
        list.resize(420, 240);
        list.setBorderStyle(TPanel::TBorderStyle::bsNone);
        list.setDayEntries(&entries);
        list.OnWantUserName = [this](QObject* sender, const QString& pk, QString& name) {
            QCOMPARE(sender, &list);
            if (!names.contains(pk) || pk == meetings)
                throw EQuorla("Unable to locate key (" + pk + ") in user cache");
            name = names.value(pk);
        };
        list.OnWantCategoryDescription = [this](QObject*, const QString& pk, QString& text) {
            ++categoryCalls;
            if (pk != meetings)
                throw EQuorla("Unable to locate key (" + pk + ") in category cache");
            text = names.value(pk);
        };
        list.OnWantAlarmedFlag = [this](QObject*, const QString& pk, bool& flag) { flag = alarmed.contains(pk); };
        list.OnWantRepeatingFlag = [this](QObject*, const QString& pk, TRepeatMark& mark) {
            mark = detached.contains(pk) ? TRepeatMark::Detached : TRepeatMark(repeating.contains(pk));
        };
        list.OnError = [this](QObject* sender, const QString& message) {
            QCOMPARE(sender, &list);
            errors.append(message);
        };
    }

    void add(const DayEntryRecord& record, const QString& pk = QStringLiteral("0000000042"))
    {
        entries.Add(record, pk);
        list.RebuildItems();
    }
    // Item rectangle in the coordinates of a shot.
    QRect item(int row) const
    {
        return list.visualRect(list.model()->index(row, 0)).translated(list.viewport()->pos());
    }
    QColor background() const { return TColorRef::toQColor(list.Color()); }
    int advance(const TFont& font, const QString& text) const { return QFontMetrics(font.font()).horizontalAdvance(text); }
};

} // namespace

class TestDayViewList : public QObject
{
    Q_OBJECT

private slots:

    // The time column holds the widest time of the time font, whatever its
    // size, and a gap keeps the description clear of it.
    void timeColumn_data()
    {
        QTest::addColumn<qint32>("flags");
        QTest::addColumn<QString>("start");
        QTest::addColumn<QString>("shown");
        QTest::addColumn<int>("pointSize"); // 0: the default
        QTest::newRow("un-timed") << qint32(DayEntryRecord::UnTimed) << Day19990101 << "Day" << 0;
        QTest::newRow("late time in a large bold font") << qint32(0) << at(23, 58) << "23:58" << 16;
    }
    void timeColumn()
    {
        QFETCH(qint32, flags);
        QFETCH(QString, start);
        QFETCH(QString, shown);
        QFETCH(int, pointSize);
        ListUnderTest t;
        if (pointSize > 0) {
            QFont font = t.list.Style().TimeFont.font();
            font.setPointSize(pointSize);
            font.setBold(true);
            restyle(t.list, [&](TDisplayStyle& s) { s.TimeFont.setFont(font); });
        }
        t.add(entry(QStringLiteral("Plan"), flags, start));
        const QImage image = shot(t.list);
        const QRect row = t.item(0);
        QVERIFY(textAt(image, row.topLeft() + QPoint(1, 1), t.list.Style().TimeFont, shown, t.background(), 12));
        const int column = t.list.TimeColumn();
        QVERIFY(textAt(image, row.topLeft() + QPoint(column, 1), t.list.Style().DescriptionFont, "Plan",
                       t.background()));
        QVERIFY(column >= 1 + t.advance(t.list.Style().TimeFont, shown) + 3);
        QVERIFY(t.errors.isEmpty());
    }

    // Names joined with ", " skipping empty slots, 5 pixels after the
    // description; the category asked for only when it shows.
    void namesAndCategory_data()
    {
        QTest::addColumn<QStringList>("slotKeys");
        QTest::addColumn<QString>("category");
        QTest::addColumn<bool>("showCategories");
        QTest::addColumn<QString>("names");
        QTest::addColumn<int>("categoryCalls"); // none while hidden: a deleted one reports nothing
        QTest::newRow("empty middle slot skipped") << QStringList{ann, none, cy} << none << true << "Ann, Cy" << 0;
        QTest::newRow("three names and a category") << QStringList{ann, bob, cy} << meetings << true << "Ann, Bob, Cy" << 1;
        QTest::newRow("categories switched off") << QStringList{bob} << meetings << false << "Bob" << 0;
    }
    void namesAndCategory()
    {
        QFETCH(QStringList, slotKeys);
        QFETCH(QString, category);
        QFETCH(bool, showCategories);
        QFETCH(QString, names);
        ListUnderTest t;
        restyle(t.list, [&](TDisplayStyle& s) { s.ShowCategories = showCategories; });
        t.add(entry(QStringLiteral("Plan"), 0, at(10, 0), slotKeys, category));
        const QImage image = shot(t.list);
        QTEST(t.categoryCalls, "categoryCalls");

        const QPoint line = t.item(0).topLeft() + QPoint(t.list.TimeColumn(), 1);
        const int w1 = t.advance(t.list.Style().DescriptionFont, QStringLiteral("Plan"));
        QVERIFY(textAt(image, line, t.list.Style().DescriptionFont, QStringLiteral("Plan"), t.background()));
        QVERIFY(textAt(image, line + QPoint(w1 + 5, 0), t.list.Style().AssigneeFont, names, t.background()));
    }

    // The glyphs after the time, in their order, each answered for its own
    // entry; the description follows the last.
    void glyphs_data()
    {
        QTest::addColumn<bool>("isPrivate");
        QTest::addColumn<bool>("alarmed");
        QTest::addColumn<bool>("repeating");
        QTest::addColumn<QString>("shown");
        QTest::addColumn<bool>("twoLines");   // glyphs below the time ("-": none in a place)
        QTest::newRow("repeating alone") << false << false << true << "repeat - -" << false;
        QTest::newRow("all three") << true << true << true << "private alarm repeat" << false;
        QTest::newRow("no longer following its series") << false << true << true << "alarm detached -" << false;
        QTest::newRow("two lines: repeat in the private place") << false << true << true << "repeat alarm -" << true;
        QTest::newRow("two lines: all three") << true << true << true << "private alarm repeat" << true;
    }
    void glyphs()
    {
        QFETCH(bool, isPrivate);
        QFETCH(bool, alarmed);
        QFETCH(bool, repeating);
        QFETCH(QString, shown);
        QFETCH(bool, twoLines);
        ListUnderTest t;
        if (twoLines)
            restyle(t.list, [](TDisplayStyle& s) { s.DisplayMode = TDisplayMode::dmDouble; });
        const QString pk = QStringLiteral("0000000042");
        if (alarmed)
            t.alarmed << pk;
        if (repeating)
            (shown.contains(QLatin1String("detached")) ? t.detached : t.repeating) << pk;
        t.repeating << QStringLiteral("0000000043");   // another entry's answer
        t.add(entry(QStringLiteral("Plan"), isPrivate ? DayEntryRecord::Private : 0, at(9, 0)), pk);
        const QImage image = shot(t.list);
        const QRect row = t.item(0);
        const auto drawn = [&](const QPixmap& glyph, QPoint at) {
            QImage expected(16, 16, QImage::Format_ARGB32);
            expected.fill(t.background());
            QPainter(&expected).drawPixmap(0, 0, glyph);
            return image.copy(QRect(at, QSize(16, 16))) == expected;
        };
        const std::pair<const char*, const QPixmap*> glyphs[] = {{"private", &t.list.PrivateGlyph()},
                                                                 {"alarm", &t.list.AlarmGlyph()},
                                                                 {"repeat", &t.list.RepeatGlyph()},
                                                                 {"detached", &t.list.DetachedGlyph()}};
        const auto glyphAt = [&](QPoint at) {
            for (const auto& [name, glyph] : glyphs)
                if (drawn(*glyph, at))
                    return QString::fromLatin1(name);
            return QStringLiteral("-");
        };
        // Three places from the first: after the time, or below it.
        const QPoint first = row.topLeft() + (twoLines ? QPoint(0, 16) : QPoint(t.list.TimeColumn(), 0));
        QStringList found;
        for (int place = 0; place < 3; ++place)
            found << glyphAt(first + QPoint(place * 16, 0));
        QCOMPARE(found.join(' '), shown);
        if (twoLines)
            return;
        const int x = first.x() + 16 * int(found.size() - found.count(QStringLiteral("-")));
        const TFont& font = isPrivate ? t.list.Style().PrivateFont : t.list.Style().DescriptionFont;
        QVERIFY(textAt(image, QPoint(x, row.top() + 1), font, QStringLiteral("Plan"), t.background()));
    }

    void doubleLineLayout()
    {
        ListUnderTest t;
        t.add(entry(QStringLiteral("One"), 0, at(9, 0)));
        QCOMPARE(t.item(0).height(), 16);
        t.entries.Clear();
        restyle(t.list, [](TDisplayStyle& s) { s.DisplayMode = TDisplayMode::dmDouble; });
        t.alarmed.append(QStringLiteral("0000000042"));
        // No descenders: the description's last line ends on the first row of
        // the assignee line.
        const QString longText = QStringLiteral("The annual review of the whole team with the notes on each line of work "
                                                "and the school to select for the next course of the");
        t.add(entry(longText, DayEntryRecord::Private, at(9, 0), {ann, bob}, meetings));
        t.add(entry(QStringLiteral("Short"), 0, at(11, 0), {cy}), QStringLiteral("0000000043"));

        const QImage image = shot(t.list);
        const QRect first = t.item(0);
        const QRect second = t.item(1);
        // The long text wrapped; the short one still takes its two lines.
        QVERIFY(first.height() > second.height() && second.height() > 16);
        QCOMPARE(second.top(), first.top() + first.height());
        // Assignees on the item's last line, below the wrapped text.
        QVERIFY(textAt(image, QPoint(first.left() + t.list.TimeColumn(), first.bottom() + 1 - 16), t.list.Style().AssigneeFont,
                       "Ann, Bob", t.background()));
        // Items far below the view are measured once the list scrolls: at the
        // end, the last is wholly in view with the wrapped height of the first.
        for (int i = 0; i < 20; ++i)
            t.add(entry(longText, DayEntryRecord::Private, at(12, i), {ann, bob}, meetings));
        const int last = t.list.Count() - 1;
        t.list.scrollToBottom();
        QTRY_VERIFY(t.item(last).bottom() < t.list.viewport()->y() + t.list.viewport()->height());
        QCOMPARE(t.item(last).height(), first.height());
        // Back to one line: measured again.
        restyle(t.list, [](TDisplayStyle& s) { s.DisplayMode = TDisplayMode::dmSingle; });
        QCOMPARE(t.item(1).top(), t.item(0).top() + 16);
    }

    // Nothing escapes the paint, and the error is reported once, after the
    // paint, until the next rebuild.
    void failingLookupReportedOnce_data()
    {
        QTest::addColumn<QString>("start");
        QTest::addColumn<QString>("firstAssignee");
        QTest::addColumn<QString>("category");
        QTest::addColumn<bool>("alarmFails");
        QTest::addColumn<QString>("message");
        const QString nine = at(9, 0);
        QTest::newRow("user deleted elsewhere")
            << nine << "0000000099" << none << false << "Unable to locate key (0000000099) in user cache";
        QTest::newRow("category deleted elsewhere")
            << nine << ann << "0000000098" << false << "Unable to locate key (0000000098) in category cache";
        QTest::newRow("alarm lookup fails") << nine << ann << none << true << "alarm dataset unreadable";
        QTest::newRow("start time beyond 2037") << "2147483647" << ann << none << false << "Increment out of range";
    }
    void failingLookupReportedOnce()
    {
        QFETCH(QString, start);
        QFETCH(QString, firstAssignee);
        QFETCH(QString, category);
        QFETCH(bool, alarmFails);
        QFETCH(QString, message);
        ListUnderTest t;
        if (alarmFails)
            t.list.OnWantAlarmedFlag = [](QObject*, const QString&, bool&) {
                throw std::runtime_error("alarm dataset unreadable");
            };
        t.add(entry(QStringLiteral("Plan"), 0, start, {firstAssignee, bob}, category));
        for (int repaint = 0; repaint < 3; ++repaint)
            shot(t.list);
        QVERIFY(t.errors.isEmpty()); // never from inside the paint
        QCoreApplication::processEvents();
        QCOMPARE(t.errors, QStringList{message});
        t.list.RebuildItems();
        shot(t.list);
        shot(t.list);
        QCoreApplication::processEvents();
        QCOMPARE(t.errors.size(), 2);
    }

};

QUORLA_TEST_GUI_MAIN(TestDayViewList)
#include "tst_dayviewlist.moc"

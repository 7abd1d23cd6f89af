#include "ViewBench.h"

#include "DayEntryRecord.h"
#include "RecordKey.h"
#include "TDayEntries.h"
#include "TDayView.h"
#include "TWeekView.h"

#include <QDateTime>
#include <QElapsedTimer>
#include <QHash>
#include <QPixmap>
#include <QString>
#include <QTextStream>

#include <cstdio>

namespace {

constexpr int entriesPerDay = 30;
constexpr int assigneesPerEntry = 5;
constexpr qint64 minimumMilliseconds = 2000;

const char* const descriptions[] = {
    "Team meeting", "Customer call about the new contract", "Budget review",
    "Dentist", "Release planning with the whole department", "Lunch with suppliers",
    "Interview", "Quarterly figures", "Fire drill", "Training: safety at work",
};

struct Calendar
{
    QHash<QString, QString> users;
    QHash<QString, QString> categories;

    Calendar()
    {
        const char* const names[] = {"AB", "CD", "EF", "GH", "JK", "LM", "NP", "QR", "ST", "UV"};
        for (int i = 0; i < 10; ++i)
            users.insert(RecordKey::format(i + 1), QString::fromLatin1(names[i]));
        categories.insert(RecordKey::format(1), QStringLiteral("Meeting"));
        categories.insert(RecordKey::format(2), QStringLiteral("Private"));
        categories.insert(RecordKey::format(3), QStringLiteral("Travel"));
    }

    void fillDay(const QString& dayKey, TDayEntries& entries) const
    {
        const qint64 day = RecordKey::parse(dayKey);
        for (int i = 0; i < entriesPerDay; ++i) {
            DayEntryRecord entry;
            entry.initialise();
            const bool untimed = i % 10 == 0;
            entry.setFlags((untimed ? DayEntryRecord::UnTimed : 0)
                           | (i % 7 == 3 ? DayEntryRecord::Private : 0));
            entry.setStartTime(RecordKey::format(untimed ? day : day + 7 * 3600 + i * 900));
            entry.setOwnerKey(RecordKey::format(1 + i % 10));
            entry.setCategoryKey(i % 4 == 0 ? QString(RecordKey::None) : RecordKey::format(1 + i % 3));
            entry.setDescription(QString::fromLatin1(descriptions[i % 10]));
            QStringList assignees;
            for (int a = 0; a < assigneesPerEntry; ++a)
                assignees.append(RecordKey::format(1 + (i + a) % 10));
            entry.setAssigneeKeys(assignees);
            entries.Add(entry, RecordKey::format(day / 60 + i));
        }
    }
};

void measure(TWeekView& week, const char* layout)
{
    QPixmap canvas(week.size());
    week.render(&canvas); // warm-up: fonts, glyph caches
    QElapsedTimer timer;
    timer.start();
    int draws = 0;
    while (timer.elapsed() < minimumMilliseconds) {
        week.render(&canvas);
        ++draws;
    }
    const double seconds = double(timer.nsecsElapsed()) / 1e9;
    std::printf("view: week redraw, %s, %d entries a day: %.1f draws/s (%.2f ms each)\n", layout,
                entriesPerDay, draws / seconds, 1000.0 * seconds / draws);
    const QByteArray shot = qgetenv("QUORLA_BENCH_SHOT");
    if (!shot.isEmpty())
        canvas.save(QString::fromLocal8Bit(shot) + QStringLiteral("-") + QString::fromLatin1(layout)
                    + QStringLiteral(".png"));
}

} // namespace

void runViewBench()
{
    const Calendar calendar;
    TWeekView week;
    week.resize(1400, 1560);
    week.ArrangeDays();
    week.setDateFormat(QStringLiteral("dddd, dd mmmm, yyyy"));
    week.OnWantDayEntries = [&](QObject*, const QString& key, TDayEntries& entries) {
        calendar.fillDay(key, entries);
    };
    week.OnWantUserName = [&](QObject*, const QString& pk, QString& name) {
        name = calendar.users.value(pk);
    };
    week.OnWantCategoryDescription = [&](QObject*, const QString& pk, QString& text) {
        text = calendar.categories.value(pk);
    };
    week.OnWantAlarmedFlag = [](QObject*, const QString& pk, bool& alarmed) {
        alarmed = RecordKey::parse(pk) % 3 == 0;
    };
    week.ShowWeekOf(QDateTime(QDate(2024, 3, 13), QTime(12, 0)));

    measure(week, "one line");
    TDisplayStyle style = week.Style();
    style.DisplayMode = TDisplayMode::dmDouble;
    week.setStyle(style);
    measure(week, "two lines");
}

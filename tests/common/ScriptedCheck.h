#pragma once

#include <QStringList>
#include <QTest>

// The end of a scripted part of a test's services: the running test fails
// when the code under test did what the script did not expect, or left
// scripted answers nobody asked for.
inline void failOnLeftovers(QStringList unexpected, const QStringList& pending)
{
    for (const QString& answer : pending)
        unexpected << QStringLiteral("scripted but never asked: ") + answer;
    if (!unexpected.isEmpty())
        QTest::qFail(qPrintable(unexpected.join(QLatin1String("\n    "))), __FILE__, __LINE__);
}
